// The command line: only documented switches, each with its argument and
// once, are read as switches; every other line keeps the old rule (a lone
// "-r" restores, anything else cleans).
#include "driver/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CommandLine, SwitchesOnlyWhenTheLineIsMadeOfThemAlone)
{
    const struct Case {
        std::vector<const wchar_t*> arguments;
        RunMode mode;
        const wchar_t* undoFile;
    } cases[] = {
        {{}, RunMode::Cleaning, nullptr},
        {{L"-r"}, RunMode::Restoration, nullptr},
        {{L"-R"}, RunMode::Cleaning, nullptr},
        {{L"-r", L"x"}, RunMode::Cleaning, nullptr},
        {{L"-r", L"-r"}, RunMode::Cleaning, nullptr},
        {{L"-undo", L"Registry backup 2026.12.10 13-04-15.reg"}, RunMode::Undo,
         L"Registry backup 2026.12.10 13-04-15.reg"},
        {{L"-undo", L"-r"}, RunMode::Undo, L"-r"},
        {{L"-undo"}, RunMode::Cleaning, nullptr},
        {{L"-undo", L""}, RunMode::Cleaning, nullptr},
        {{L"-undo", L"a.reg", L"-r"}, RunMode::Cleaning, nullptr},
        {{L"-r", L"-undo", L"a.reg"}, RunMode::Cleaning, nullptr},
        {{L"-undo", L"a.reg", L"-undo", L"b.reg"}, RunMode::Cleaning, nullptr},
        {{L"-Undo", L"a.reg"}, RunMode::Cleaning, nullptr},
        {{L"/undo", L"a.reg"}, RunMode::Cleaning, nullptr},
    };
    for (const Case& c : cases) {
        std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"VORNTarnvexEvCleaner.exe")};
        std::wstring shown;
        for (const wchar_t* argument : c.arguments) {
            argv.push_back(const_cast<wchar_t*>(argument));
            shown += std::wstring(L" [") + argument + L"]";
        }
        SCOPED_TRACE(std::string(shown.begin(), shown.end()));
        argv.push_back(nullptr);
        const CommandLine line = ReadCommandLine(static_cast<int>(argv.size() - 1), argv.data());
        EXPECT_EQ(c.mode, line.mode);
        if (c.undoFile == nullptr) {
            EXPECT_EQ(nullptr, line.undoFile);
        } else {
            EXPECT_EQ(std::wstring(c.undoFile), std::wstring(line.undoFile));
        }
    }
}

}  // namespace
