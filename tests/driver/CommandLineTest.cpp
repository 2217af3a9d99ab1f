#include "driver/CommandLine.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

struct Case {
    std::vector<const wchar_t*> arguments;
    bool restoration, silent, noRestart, service;
    const wchar_t* logDirectory;
};

CommandLine Parse(const std::vector<const wchar_t*>& arguments)
{
    std::vector<wchar_t*> argv{const_cast<wchar_t*>(L"C:\\cleaner.exe")};
    for (const wchar_t* argument : arguments)
        argv.push_back(const_cast<wchar_t*>(argument));
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// A line of documented switches is read in any order; any other line keeps
// the old meaning whole (a cleaning run, nothing else), never half of it.
TEST(CommandLine, SwitchesOnlyWhenEveryArgumentIsOne)
{
    const wchar_t* dir = L"C:\\vorn logs";
    const Case cases[] = {
        {{}, false, false, false, false, nullptr},
        {{L"-r"}, true, false, false, false, nullptr},
        {{L"-R"}, false, false, false, false, nullptr},
        {{L"/r"}, false, false, false, false, nullptr},
        {{L"-r", L"x"}, false, false, false, false, nullptr},
        {{L"-r "}, false, false, false, false, nullptr},
        {{L"-silent"}, false, true, false, false, nullptr},
        {{L"-r", L"-silent"}, true, true, false, false, nullptr},
        {{L"-norestart", L"-log", dir, L"-silent"}, false, true, true, false, dir},
        {{L"-silent", L"-r", L"-service", L"-log", dir, L"-norestart"}, true, true, true, true, dir},
        // Faults of a deployment command line: the old rule, not a silent run
        // that skips parts of what it was told.
        {{L"-silent", L"-log"}, false, false, false, false, nullptr},
        {{L"-silent", L"-log", L""}, false, false, false, false, nullptr},
        {{L"-silent", L"-silent"}, false, false, false, false, nullptr},
        {{L"-silent", L"-quiet"}, false, false, false, false, nullptr},
        {{L"-Silent"}, false, false, false, false, nullptr},
    };
    for (const Case& c : cases) {
        const CommandLine line = Parse(c.arguments);
        const std::wstring shown = c.arguments.empty() ? L"(none)" : c.arguments[0];
        SCOPED_TRACE(testing::Message() << "first argument " << testing::PrintToString(shown) << ", "
                                        << c.arguments.size() << " arguments");
        EXPECT_EQ(c.restoration, line.mode == RunMode::Restoration);
        EXPECT_EQ(c.silent, line.silent);
        EXPECT_EQ(c.noRestart, line.noRestart);
        EXPECT_EQ(c.service, line.service);
        if (c.logDirectory == nullptr)
            EXPECT_EQ(nullptr, line.logDirectory);
        else
            EXPECT_STREQ(c.logDirectory, line.logDirectory);
    }
}

}  // namespace
