// The command line: only documented switches, each with its argument and
// once, in any order, are read as switches; every other line keeps the old
// rule (a lone "-r" restores, anything else cleans).
#include "driver/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void ExpectText(const wchar_t* expected, const wchar_t* actual)
{
    if (expected == nullptr)
        EXPECT_EQ(nullptr, actual);
    else if (actual == nullptr)
        ADD_FAILURE() << "missing";
    else
        EXPECT_EQ(std::wstring(expected), std::wstring(actual));
}

TEST(CommandLine, DocumentedSwitchesInAnyOrderAndTheEarlierRuleForEverythingElse)
{
    const struct Case {
        std::vector<const wchar_t*> arguments;  // after the program
        RunMode mode;
        const wchar_t* logDirectory;
        const wchar_t* undoFile;
        bool silent;
        bool noRestart;
        bool service;
    } cases[] = {
        {{}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-r"}, RunMode::Restoration, nullptr, nullptr, false, false, false},
        {{L"-scan"}, RunMode::Scan, nullptr, nullptr, false, false, false},
        {{L"-log", L"C:\\logs"}, RunMode::Cleaning, L"C:\\logs", nullptr, false, false, false},
        {{L"-r", L"-log", L"\\\\server\\share\\logs"}, RunMode::Restoration, L"\\\\server\\share\\logs", nullptr, false, false, false},
        {{L"-log", L"x", L"-scan"}, RunMode::Scan, L"x", nullptr, false, false, false},
        {{L"-scan", L"-r"}, RunMode::Scan, nullptr, nullptr, false, false, false},
        {{L"-r", L"-scan"}, RunMode::Scan, nullptr, nullptr, false, false, false},
        {{L"-undo", L"Registry backup 2026.12.10 13-04-15.reg"}, RunMode::Undo, nullptr,
         L"Registry backup 2026.12.10 13-04-15.reg", false, false, false},
        {{L"-undo", L"-r"}, RunMode::Undo, nullptr, L"-r", false, false, false},
        {{L"-log", L"d", L"-undo", L"a.reg"}, RunMode::Undo, L"d", L"a.reg", false, false, false},
        {{L"-silent"}, RunMode::Cleaning, nullptr, nullptr, true, false, false},
        {{L"-r", L"-silent"}, RunMode::Restoration, nullptr, nullptr, true, false, false},
        {{L"-norestart", L"-log", L"C:\\vorn logs", L"-silent"}, RunMode::Cleaning, L"C:\\vorn logs", nullptr, true,
         true, false},
        {{L"-silent", L"-r", L"-service", L"-log", L"d", L"-norestart"}, RunMode::Restoration, L"d", nullptr, true, true,
         true},
        {{L"-silent", L"-undo", L"a.reg"}, RunMode::Undo, nullptr, L"a.reg", true, false, false},
        // Not switches: the earlier rule, and nothing else read; a faulty
        // deployment command line is no silent run that skips part of it.
        {{L"-R"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"/r"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-r "}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-r", L"x"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-r", L"-r"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-log"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-log", L""}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-log", L"a", L"-log", L"b"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-scan", L"-Scan"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-log", L"a", L"-r", L"extra"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-undo"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-undo", L""}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-undo", L"a.reg", L"-r"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-r", L"-undo", L"a.reg"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-scan", L"-undo", L"a.reg"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-undo", L"a.reg", L"-undo", L"b.reg"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-Undo", L"a.reg"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"/undo", L"a.reg"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-silent", L"-log"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-silent", L"-silent"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-silent", L"-quiet"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
        {{L"-Silent"}, RunMode::Cleaning, nullptr, nullptr, false, false, false},
    };
    for (const Case& c : cases) {
        std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"C:\\cleaner.exe")};
        std::wstring shown;
        for (const wchar_t* argument : c.arguments) {
            argv.push_back(const_cast<wchar_t*>(argument));
            shown += std::wstring(L" [") + argument + L"]";
        }
        SCOPED_TRACE(std::string(shown.begin(), shown.end()));
        const int argc = static_cast<int>(argv.size());
        argv.push_back(nullptr);  // as the C runtime ends the vector
        const CommandLine line = ParseCommandLine(argc, argv.data());
        EXPECT_EQ(static_cast<int>(c.mode), static_cast<int>(line.mode));
        ExpectText(c.logDirectory, line.logDirectory);
        ExpectText(c.undoFile, line.undoFile);
        EXPECT_EQ(c.silent, line.silent);
        EXPECT_EQ(c.noRestart, line.noRestart);
        EXPECT_EQ(c.service, line.service);
    }
}

}  // namespace
