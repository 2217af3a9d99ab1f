#include "driver/CommandLine.h"

#include <cwchar>

namespace {

enum class Switch { Restoration, Silent, NoRestart, Service, LogDirectory };

struct SwitchEntry {
    const wchar_t* text;
    Switch which;
    bool takesValue;
};

// A plain code-unit comparison, case-sensitive as "-r" always was.
const SwitchEntry kSwitches[] = {
    {L"-r", Switch::Restoration, false},  {L"-silent", Switch::Silent, false},
    {L"-norestart", Switch::NoRestart, false}, {L"-service", Switch::Service, false},
    {L"-log", Switch::LogDirectory, true},
};

const SwitchEntry* FindSwitch(const wchar_t* text)
{
    for (const SwitchEntry& entry : kSwitches) {
        if (wcscmp(entry.text, text) == 0)
            return &entry;
    }
    return nullptr;
}

bool ReadSwitches(int argc, wchar_t** argv, CommandLine* line)
{
    bool seen[sizeof(kSwitches) / sizeof(kSwitches[0])] = {};
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr)
            return false;
        const SwitchEntry* entry = FindSwitch(argv[i]);
        if (entry == nullptr || seen[entry - kSwitches])
            return false;
        seen[entry - kSwitches] = true;
        const wchar_t* value = nullptr;
        if (entry->takesValue) {
            if (i + 1 >= argc || argv[i + 1] == nullptr || argv[i + 1][0] == L'\0')
                return false;
            value = argv[++i];
        }
        switch (entry->which) {
        case Switch::Restoration: line->restoration = true; break;
        case Switch::Silent: line->silent = true; break;
        case Switch::NoRestart: line->noRestart = true; break;
        case Switch::Service: line->service = true; break;
        case Switch::LogDirectory: line->logDirectory = value; break;
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
    // The old rule: anything but a lone "-r" cleans, with nothing else set.
    return CommandLine();
}
