#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

#include "driver/CommandLine.h"

namespace {

struct Case {
    std::vector<const wchar_t*> arguments;  // after the program
    RunMode mode;
    const wchar_t* logDirectory;
};

// A command line of documented switches is read as switches in any order;
// anything else keeps the earlier rule (a lone "-r" restores, all else cleans).
TEST(CommandLine, DocumentedSwitchesInAnyOrderAndTheEarlierRuleForEverythingElse)
{
    const Case cases[] = {
        {{}, RunMode::Cleaning, nullptr},
        {{L"-r"}, RunMode::Restoration, nullptr},
        {{L"-scan"}, RunMode::Scan, nullptr},
        {{L"-log", L"C:\\logs"}, RunMode::Cleaning, L"C:\\logs"},
        {{L"-r", L"-log", L"\\\\server\\share\\logs"}, RunMode::Restoration, L"\\\\server\\share\\logs"},
        {{L"-log", L"x", L"-scan"}, RunMode::Scan, L"x"},
        {{L"-scan", L"-r"}, RunMode::Scan, nullptr},
        // Not switches: the earlier rule, and no log directory.
        {{L"-R"}, RunMode::Cleaning, nullptr},
        {{L"/r"}, RunMode::Cleaning, nullptr},
        {{L"-r "}, RunMode::Cleaning, nullptr},
        {{L"-r", L"x"}, RunMode::Cleaning, nullptr},
        {{L"-r", L"-r"}, RunMode::Cleaning, nullptr},
        {{L"-log"}, RunMode::Cleaning, nullptr},
        {{L"-log", L""}, RunMode::Cleaning, nullptr},
        {{L"-log", L"a", L"-log", L"b"}, RunMode::Cleaning, nullptr},
        {{L"-scan", L"-Scan"}, RunMode::Cleaning, nullptr},
        {{L"-log", L"a", L"-r", L"extra"}, RunMode::Cleaning, nullptr},
    };
    for (const Case& c : cases) {
        std::vector<wchar_t*> argv{const_cast<wchar_t*>(L"C:\\cleaner.exe")};
        for (const wchar_t* argument : c.arguments)
            argv.push_back(const_cast<wchar_t*>(argument));
        const CommandLine line = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        std::wstring shown;
        for (const wchar_t* argument : c.arguments)
            shown += std::wstring(L"[") + argument + L"]";
        SCOPED_TRACE(std::string(shown.begin(), shown.end()));
        EXPECT_EQ(static_cast<int>(c.mode), static_cast<int>(line.mode));
        if (c.logDirectory == nullptr)
            EXPECT_EQ(nullptr, line.logDirectory);
        else
            EXPECT_STREQ(c.logDirectory, line.logDirectory);
    }
}

}  // namespace
