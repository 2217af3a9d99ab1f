#include "driver/ScanReport.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "cleanup/BotId.h"
#include "logging/Log.h"
#include "logging/WideFormat.h"
#include "win/BoundedString.h"
#include "win/MachineChange.h"

namespace {

const size_t kLineCapacity = 2048;

struct RecordState {
    bool open = false;
    char keyPath[1024] = "";
    bool keyMissing = false;
    bool securityDiffers = false;
    wchar_t differing[kLineCapacity] = L"";
    wchar_t missing[kLineCapacity] = L"";
};

struct DirectoryState {
    bool open = false;
    wchar_t path[MAX_PATH] = L"";
    size_t length = 0;
    size_t entries = 0;
};

// The records' lines, told together when the pass ends: a record is known
// to be complete only when the next one starts.
class HeldLines {
public:
    HeldLines() = default;
    ~HeldLines() { free(text_); }
    HeldLines(const HeldLines&) = delete;
    HeldLines& operator=(const HeldLines&) = delete;

    void Add(const wchar_t* line)
    {
        const size_t length = TextLength(line) + 1;
        if (used_ + length + 1 > capacity_) {
            const size_t capacity = (used_ + length + 1) * 2;
            void* grown = realloc(text_, capacity * sizeof(wchar_t));
            if (grown == nullptr)
                return;
            text_ = static_cast<wchar_t*>(grown);
            capacity_ = capacity;
        }
        memcpy(text_ + used_, line, length * sizeof(wchar_t));
        used_ += length;
    }
    // Each line in order, then empty.
    template <typename Use>
    void Drain(Use use)
    {
        for (size_t at = 0; at < used_; at += TextLength(text_ + at) + 1)
            use(text_ + at);
        used_ = 0;
    }

private:
    wchar_t* text_ = nullptr;
    size_t used_ = 0;
    size_t capacity_ = 0;
};

struct Report {
    bool active = false;
    ScanPhase phase = ScanPhase::None;
    ScanFindings found;
    RecordState record;
    DirectoryState directory;
};

HeldLines& RecordLines()
{
    static HeldLines lines;
    return lines;
}

Report& State()
{
    static Report report;
    return report;
}

// One finding: a log line and the same on the console.
void Tell(const wchar_t* format, ...)
{
    wchar_t line[kLineCapacity];
    va_list args;
    va_start(args, format);
    logging::FormatWideTruncating(line, kLineCapacity, format, args);
    va_end(args);
    LogInfo(L"%ws", line);
    printf("%ls\n", line);
}

void AppendName(wchar_t (&list)[kLineCapacity], const wchar_t* name)
{
    if (list[0] != L'\0')
        AppendBounded(list, kLineCapacity, L", ");
    AppendBounded(list, kLineCapacity, name != nullptr ? name : L"@");
}

void CloseRecord(Report& r)
{
    RecordState& record = r.record;
    if (!record.open)
        return;
    record.open = false;
    ++r.found.recordsDiffering;
    wchar_t what[3 * kLineCapacity] = L"";
    if (record.keyMissing)
        AppendBounded(what, 3 * kLineCapacity, L" key missing;");
    if (record.differing[0] != L'\0' && AppendBounded(what, 3 * kLineCapacity, L" values differ: "))
        AppendBounded(what, 3 * kLineCapacity, record.differing) && AppendBounded(what, 3 * kLineCapacity, L";");
    if (record.missing[0] != L'\0' && AppendBounded(what, 3 * kLineCapacity, L" values missing: "))
        AppendBounded(what, 3 * kLineCapacity, record.missing) && AppendBounded(what, 3 * kLineCapacity, L";");
    if (record.securityDiffers)
        AppendBounded(what, 3 * kLineCapacity, L" security differs;");
    wchar_t line[4 * kLineCapacity];
    CopyBounded(line, 4 * kLineCapacity, L"Service record HKLM\\");
    wchar_t path[1024];
    if (MultiByteToWideChar(CP_ACP, 0, record.keyPath, -1, path, 1024) == 0)
        path[0] = L'\0';
    AppendBounded(line, 4 * kLineCapacity, path);
    AppendBounded(line, 4 * kLineCapacity, L":");
    AppendBounded(line, 4 * kLineCapacity, what);
    RecordLines().Add(line);
}

void OpenRecord(Report& r, const char* keyPath)
{
    if (r.record.open && _stricmp(r.record.keyPath, keyPath) == 0)
        return;
    CloseRecord(r);
    r.record = RecordState();
    r.record.open = CopyBounded(r.record.keyPath, sizeof(r.record.keyPath), keyPath);
}

void CloseDirectory(Report& r)
{
    if (!r.directory.open)
        return;
    r.directory.open = false;
    // An empty one is what a cleaning run leaves behind: no trace.
    if (r.directory.entries != 0)
        ++r.found.rootkitDirectories;
    Tell(L"Rootkit directory %ws: %u entries", r.directory.path, static_cast<unsigned>(r.directory.entries));
}

// The removal first changes the security of a rootkit directory, then
// everything below it: a change outside the open directory starts the next.
void NoteRemovalChange(Report& r, Change change, const wchar_t* path)
{
    DirectoryState& d = r.directory;
    const bool below = d.open && wcsncmp(path, d.path, d.length) == 0 && path[d.length] == L'\\';
    if (!below && !(d.open && wcscmp(path, d.path) == 0)) {
        CloseDirectory(r);
        d.open = CopyBounded(d.path, MAX_PATH, path);
        d.length = d.open ? TextLength(d.path) : 0;
        d.entries = 0;
        return;
    }
    if (below && (change == Change::DeleteFile || change == Change::RemoveDirectory))
        ++d.entries;
}

void Withheld(Change change, const ChangeTarget& target, const wchar_t* current, const wchar_t* next)
{
    Report& r = State();
    ++r.found.withheldChanges;
    switch (r.phase) {
    case ScanPhase::ComRepair:
        if (change != Change::SetValue || target.path == nullptr)
            break;
        if (current == nullptr) {
            ++r.found.missingComDefaults;
            Tell(L"Missing COM default: %ws\\%ws (the repair would write %ws)", target.root, target.path, next);
        } else if (next == nullptr || wcscmp(current, next) != 0) {
            ++r.found.hijackedComRows;
            Tell(L"Hijacked COM row: %ws\\%ws = %ws (the repair would write %ws)", target.root, target.path, current,
                 next != nullptr ? next : L"");
        }
        break;
    case ScanPhase::ServiceHostImage:
        if (change == Change::CopyFile && target.narrowPath != nullptr && !r.found.cleanReplacementFound &&
            r.found.servicesExe == ServicesExeVerdict::Infected && next != nullptr && wcsncmp(next, L"svc", 3) == 0) {
            r.found.cleanReplacementFound = true;
            Tell(L"Clean replacement in the component store: %hs", target.narrowPath);
        }
        break;
    case ScanPhase::MalwareRemoval:
        if (target.path != nullptr)
            NoteRemovalChange(r, change, target.path);
        break;
    case ScanPhase::Restoration:
        if (target.narrowPath == nullptr || change == Change::RewriteKeySecurity)
            break;
        OpenRecord(r, target.narrowPath);
        if (change == Change::CreateKey) {
            r.record.keyMissing = true;
            ++r.found.keysMissing;
        } else if (change == Change::SetKeySecurity) {
            r.record.securityDiffers = true;
            ++r.found.securityDiffering;
        } else if (change == Change::SetValue && current == nullptr) {
            // Values of a key that is missing are missing with it.
            if (!r.record.keyMissing)
                AppendName(r.record.missing, target.valueName);
            ++r.found.valuesMissing;
        } else if (change == Change::SetValue) {
            AppendName(r.record.differing, target.valueName);
            ++r.found.valuesDiffering;
        }
        break;
    default:
        break;
    }
}

void Uncheckable(const wchar_t* what, const ChangeTarget& target)
{
    Report& r = State();
    ++r.found.uncheckable;
    if (target.path != nullptr)
        Tell(L"Could not check (%ws): %ws%ws%ws", what, target.root != nullptr ? target.root : L"",
             target.root != nullptr ? L"\\" : L"", target.path);
    else
        Tell(L"Could not check (%ws): %ws%ws%hs", what, target.root != nullptr ? target.root : L"",
             target.root != nullptr ? L"\\" : L"", target.narrowPath != nullptr ? target.narrowPath : "");
}

const ChangeObserver kObserver = {Withheld, Uncheckable};

void LeavePhase(Report& r)
{
    if (r.phase == ScanPhase::MalwareRemoval)
        CloseDirectory(r);
    if (r.phase == ScanPhase::Restoration) {
        CloseRecord(r);
        RecordLines().Drain([](const wchar_t* line) { Tell(L"%ws", line); });
    }
}

}  // namespace

void BeginScanReport()
{
    Report& r = State();
    r = Report();
    r.active = true;
    ObserveChanges(&kObserver);
}

void NoteScanPhase(ScanPhase phase)
{
    Report& r = State();
    if (!r.active || !IsScanMode())
        return;
    LeavePhase(r);
    r.phase = phase;
    if (phase == ScanPhase::RemovalNotReached)
        Tell(L"Rootkit directories: not examined (the cleaning run does not reach the removal)");
    if (phase != ScanPhase::MalwareRemoval)
        return;
    r.found.removalReached = true;
    // The removal names the directories after this identifier; it says
    // nothing itself about one it cannot derive.
    wchar_t botId[kBotIdCapacity];
    r.found.botIdDerived = GenerateBotId(botId);
    if (!r.found.botIdDerived)
        Tell(L"Rootkit directories: the identifier could not be derived");
}

void NoteServicesExeVerdict(ServicesExeVerdict verdict)
{
    Report& r = State();
    if (!r.active || !IsScanMode())
        return;
    r.found.servicesExeChecked = true;
    r.found.servicesExe = verdict;
    switch (verdict) {
    case ServicesExeVerdict::Infected:
        Tell(L"services.exe: infected");
        break;
    case ServicesExeVerdict::Clean:
        Tell(L"services.exe: clean");
        break;
    case ServicesExeVerdict::Unchecked:
        ++r.found.uncheckable;
        Tell(L"services.exe: could not be checked");
        break;
    }
}

ScanFindings EndScanReport(size_t recordsChecked)
{
    Report& r = State();
    LeavePhase(r);
    r.phase = ScanPhase::None;
    r.active = false;
    ObserveChanges(nullptr);
    const ScanFindings& f = r.found;
    if (f.servicesExe == ServicesExeVerdict::Infected && !f.cleanReplacementFound)
        Tell(L"services.exe: no clean replacement in the component store");
    if (f.removalReached && f.botIdDerived && f.rootkitDirectories == 0)
        Tell(L"Rootkit directories: none");
    Tell(L"COM rows: %u hijacked, %u defaults missing", static_cast<unsigned>(f.hijackedComRows),
         static_cast<unsigned>(f.missingComDefaults));
    Tell(L"Service records: %u checked, %u differ (keys missing: %u, values differing: %u, values missing: %u, "
         L"security differing: %u)",
         static_cast<unsigned>(recordsChecked), static_cast<unsigned>(f.recordsDiffering),
         static_cast<unsigned>(f.keysMissing), static_cast<unsigned>(f.valuesDiffering),
         static_cast<unsigned>(f.valuesMissing), static_cast<unsigned>(f.securityDiffering));
    Tell(L"Checks that could not be made: %u; changes a cleaning and a restoration run would make: %u",
         static_cast<unsigned>(f.uncheckable), static_cast<unsigned>(f.withheldChanges));
    return f;
}

int ScanExitCode(const ScanFindings& f)
{
    const bool traces = f.hijackedComRows != 0 || f.servicesExe == ServicesExeVerdict::Infected ||
                        f.rootkitDirectories != 0;
    if (traces)
        return ScanResultRootkitTraces;
    if (f.recordsDiffering != 0)
        return ScanResultServicesDiffer;
    if (f.uncheckable != 0)
        return ScanResultUncheckable;
    return ScanResultNothingFound;
}
