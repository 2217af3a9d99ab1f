// Runs a program with the system volume given an identity (VolumeIdentity.h):
//   volume_identity_launcher [--hold <file>] <creation time> <program> [arguments...]
// The program shares the launcher's console and standard handles, and its
// exit code is the launcher's. It starts suspended; once its loader has
// finished (its main thread waits at the entry point), the DLL beside the
// launcher is loaded into it, and then it runs on unchanged.
// --hold keeps the file open without delete sharing until the program ends,
// as a running rootkit holds its files.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <string>

#include "VolumeIdentity.h"
#include "win/ScopedHandle.h"

namespace {

const int kLauncherFailed = 125;
const DWORD kEntryWaitMs = 60000;
const BYTE kJumpToSelf[2] = {0xEB, 0xFE};

int Fail(const char* what)
{
    std::fprintf(stderr, "volume identity launcher: %s (error %lu)\n", what, GetLastError());
    return kLauncherFailed;
}

// One argument as the C runtime's parser reads it back.
std::wstring Quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: doubled there, and the quote escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring DllBesideLauncher()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    std::wstring dll(path, length);
    return dll.substr(0, dll.find_last_of(L"\\/") + 1) + kVolumeIdentityDll;
}

// The address of the program's entry point, from its image in memory.
bool FindEntryPoint(HANDLE process, BYTE** entry)
{
    typedef LONG(NTAPI * QueryProcess)(HANDLE, PROCESSINFOCLASS, void*, ULONG, ULONG*);
    const QueryProcess query = reinterpret_cast<QueryProcess>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    if (query == nullptr || query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0)
        return false;
    // PEB: two flag bytes and two more, padded to a pointer, the mutant
    // handle, then ImageBaseAddress.
    BYTE* base = nullptr;
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS nt;
    if (!ReadProcessMemory(process, reinterpret_cast<BYTE*>(basic.PebBaseAddress) + 2 * sizeof(void*), &base,
                           sizeof(base), nullptr) ||
        !ReadProcessMemory(process, base, &dos, sizeof(dos), nullptr) ||
        !ReadProcessMemory(process, base + dos.e_lfanew, &nt, sizeof(nt), nullptr) ||
        nt.Signature != IMAGE_NT_SIGNATURE)
        return false;
    *entry = base + nt.OptionalHeader.AddressOfEntryPoint;
    return true;
}

bool WriteCode(HANDLE process, BYTE* at, const BYTE* code, SIZE_T size)
{
    DWORD protection = 0;
    if (!VirtualProtectEx(process, at, size, PAGE_EXECUTE_READWRITE, &protection))
        return false;
    const bool written = WriteProcessMemory(process, at, code, size, nullptr) != FALSE;
    VirtualProtectEx(process, at, size, protection, &protection);
    return written && FlushInstructionCache(process, at, size);
}

const void* InstructionPointer(const CONTEXT& context)
{
#ifdef _WIN64
    return reinterpret_cast<const void*>(context.Rip);
#else
    return reinterpret_cast<const void*>(context.Eip);
#endif
}

// Lets the suspended main thread run into a jump to itself at the entry
// point: by then the loader has run every DLL's initialisation. Returns with
// the thread suspended there.
bool RunToEntryPoint(HANDLE process, HANDLE thread, BYTE* entry, BYTE saved[2])
{
    if (!ReadProcessMemory(process, entry, saved, 2, nullptr) || !WriteCode(process, entry, kJumpToSelf, 2) ||
        ResumeThread(thread) == static_cast<DWORD>(-1))
        return false;
    for (DWORD waited = 0; waited < kEntryWaitMs; waited += 10) {
        Sleep(10);
        if (SuspendThread(thread) == static_cast<DWORD>(-1))
            return false;
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        if (GetThreadContext(thread, &context) && InstructionPointer(context) == entry)
            return true;
        ResumeThread(thread);
    }
    SetLastError(ERROR_TIMEOUT);
    return false;
}

// LoadLibraryW run in the program by a thread of its own.
bool LoadDll(HANDLE process, const std::wstring& dll)
{
    const SIZE_T size = (dll.size() + 1) * sizeof(wchar_t);
    void* const remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote == nullptr)
        return false;
    DWORD loaded = 0;
    if (WriteProcessMemory(process, remote, dll.c_str(), size, nullptr)) {
        const LPTHREAD_START_ROUTINE loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
            reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
        ScopedHandle loader(CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr));
        // The thread's exit code is the module handle (its low half on
        // 64-bit Windows, never zero for a DLL's aligned base in practice).
        if (loader.IsValid() && WaitForSingleObject(loader.Get(), kEntryWaitMs) == WAIT_OBJECT_0)
            GetExitCodeThread(loader.Get(), &loaded);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return loaded != 0;
}

// The standard handles, inheritable, for the program to share.
void ShareStandardHandles(STARTUPINFOW* startup)
{
    startup->dwFlags |= STARTF_USESTDHANDLES;
    startup->hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup->hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup->hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE h : {startup->hStdInput, startup->hStdOutput, startup->hStdError})
        if (h != nullptr && h != INVALID_HANDLE_VALUE)
            SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

// Ends the started program unless released: a failure before it runs on
// must not leave it waiting at its entry point.
struct TerminateTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr; }
    static void Close(HANDLE h) { TerminateProcess(h, static_cast<UINT>(kLauncherFailed)); }
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int at = 1;
    ScopedHandle held;
    if (argc > 2 && std::wstring(argv[1]) == L"--hold") {
        held = ScopedHandle(CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!held.IsValid())
            return Fail("cannot hold the file open");
        at = 3;
    }
    if (argc - at < 2) {
        std::fprintf(stderr,
                     "usage: volume_identity_launcher [--hold <file>] <creation time> <program> [arguments...]\n");
        return kLauncherFailed;
    }
    if (!SetEnvironmentVariableW(kCreationTimeVariable, argv[at]))
        return Fail("cannot pass the creation time on");
    const std::wstring dll = DllBesideLauncher();
    std::wstring commandLine;
    for (int i = at + 1; i < argc; ++i)
        commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(argv[i]);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    ShareStandardHandles(&startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(argv[at + 1], &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &started))
        return Fail("cannot start the program");
    ScopedHandle process(started.hProcess);
    ScopedHandle thread(started.hThread);
    UniqueResource<HANDLE, TerminateTraits> unlessRunning(process.Get());

    BYTE* entry = nullptr;
    BYTE saved[2] = {};
    if (!FindEntryPoint(process.Get(), &entry))
        return Fail("cannot find the program's entry point");
    if (!RunToEntryPoint(process.Get(), thread.Get(), entry, saved))
        return Fail("the program did not reach its entry point");
    if (!LoadDll(process.Get(), dll))
        return Fail("cannot load volume_identity.dll into the program");
    if (!WriteCode(process.Get(), entry, saved, 2) || ResumeThread(thread.Get()) == static_cast<DWORD>(-1))
        return Fail("cannot let the program run on");
    unlessRunning.Release();

    DWORD code = 0;
    if (WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.Get(), &code))
        return Fail("cannot wait for the program");
    return static_cast<int>(code);
}
