#include "driver/CommandLine.h"

#include <cwchar>

namespace {

enum class Switch { Restoration, LogDirectory, Silent, NoRestart, Service };

struct SwitchEntry {
    const wchar_t* name;
    Switch which;
};

// Every documented switch; the README lists the same.
const SwitchEntry kSwitches[] = {
    {L"-r", Switch::Restoration},  {L"-log", Switch::LogDirectory}, {L"-silent", Switch::Silent},
    {L"-norestart", Switch::NoRestart}, {L"-service", Switch::Service},
};

const SwitchEntry* FindSwitch(const wchar_t* argument)
{
    // A plain code-unit comparison: "-R" or "/r" are no switches.
    for (const SwitchEntry& entry : kSwitches) {
        if (argument != nullptr && wcscmp(argument, entry.name) == 0)
            return &entry;
    }
    return nullptr;
}

bool ReadSwitches(int argc, wchar_t** argv, CommandLine* line)
{
    bool seen[sizeof(kSwitches) / sizeof(kSwitches[0])] = {};
    for (int i = 1; i < argc; ++i) {
        const SwitchEntry* entry = FindSwitch(argv[i]);
        if (entry == nullptr)
            return false;
        bool& once = seen[entry - kSwitches];
        if (once)
            return false;
        once = true;
        switch (entry->which) {
        case Switch::Restoration:
            line->mode = RunMode::Restoration;
            break;
        case Switch::LogDirectory:
            if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == L'\0')
                return false;
            line->logDirectory = argv[++i];
            break;
        case Switch::Silent:
            line->silent = true;
            break;
        case Switch::NoRestart:
            line->noRestart = true;
            break;
        case Switch::Service:
            line->service = true;
            break;
        }
    }
    return true;
}

}  // namespace

CommandLine ParseCommandLine(int argc, wchar_t** argv)
{
    CommandLine line;
    if (ReadSwitches(argc, argv, &line))
        return line;
    // Today's rule: exactly one argument, and it is exactly "-r"; nothing of
    // a line that is not all switches is taken, "-silent" neither.
    CommandLine earlier;
    if (argc == 2 && argv[1] != nullptr && wcscmp(argv[1], L"-r") == 0)
        earlier.mode = RunMode::Restoration;
    return earlier;
}
