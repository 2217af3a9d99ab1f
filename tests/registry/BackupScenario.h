#pragma once
// A small run of the repair steps on scratch keys, as a cleaning and a
// restoration run make them: a COM default changed twice through the two
// names of one key (HKCR and HKLM\Software\Classes), one whose default is
// absent, a known-good record that changes values and security, a record
// that creates a key, a second record of the same key, one that creates a key
// below a missing parent, and the restart registration. The registry backup
// tests stop it at every moment and take it back.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "RegistryTestKeys.h"

// "<key path, lower case>" -> "<value name, lower case>" -> value, for every
// key of the scenario's trees (a key without values is there with none).
using RegistryState = std::map<std::wstring, std::map<std::wstring, StoredValue>>;
// "<key path, lower case>" -> owner, group and DACL as SDDL.
using SecurityState = std::map<std::wstring, std::string>;

// The scratch keys as they are before the run.
void PrepareScenario();
// The steps; called between BeginRegistryBackup and EndRegistryBackup.
void RunScenario();
RegistryState ScenarioState();
SecurityState ScenarioSecurity();

bool operator==(const StoredValue& a, const StoredValue& b);
// The differences, one per line; empty when equal.
std::string Differences(const RegistryState& expected, const RegistryState& actual);

// The run's start time of the backup tests: 2026.12.10 13:04:<second> UTC.
SYSTEMTIME RunStart(WORD second);

// A fresh current directory holding "RA Ravariv", as the desktop does.
class BackupDirectory {
public:
    BackupDirectory();
    ~BackupDirectory();
    BackupDirectory(const BackupDirectory&) = delete;
    BackupDirectory& operator=(const BackupDirectory&) = delete;

    std::wstring File(const std::wstring& name) const;
    std::vector<std::wstring> Files() const;

private:
    wchar_t saved_[MAX_PATH];
    std::wstring path_;
};

// `reg import <file>` in the native view, as an administrator would run it.
int ImportScript(const std::wstring& file);

// The script as text, after its byte order mark (which must be there).
std::wstring ScriptText(const std::wstring& file);
