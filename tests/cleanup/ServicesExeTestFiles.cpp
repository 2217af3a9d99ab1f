#include "cleanup/ServicesExeTestFiles.h"

#include "win/ScopedFindHandle.h"
#include "win/ScopedHandle.h"

#include <windows.h>

namespace {

std::string DirectoryOf(const std::string& path)
{
    const std::string::size_type slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string ExecutableDirectory()
{
    char module[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return DirectoryOf(std::string(module, length));
}

}  // namespace

std::string FixtureImagePath(const std::string& fileName)
{
    const std::string directory = ExecutableDirectory();
    return directory.empty() ? directory : directory + "\\image-fixtures\\" + fileName;
}

std::string SiblingFixtureImagePath(const std::string& fileName)
{
    const std::string directory = ExecutableDirectory();
    return directory.empty() ? directory : DirectoryOf(directory) + "\\cleanup\\image-fixtures\\" + fileName;
}

bool ReadFileBytes(const std::string& path, std::string* bytes)
{
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid())
        return false;
    bytes->clear();
    char block[65536];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file.Get(), block, sizeof block, &read, nullptr) != FALSE) && read != 0)
        bytes->append(block, read);
    return ok;
}

std::string ReadFileBytesOrEmpty(const std::string& path)
{
    std::string bytes;
    return ReadFileBytes(path, &bytes) ? bytes : std::string();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    DeleteFileA(path.c_str());
    ScopedHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

bool PlantCopy(const std::string& source, const std::string& path)
{
    std::string bytes;
    return ReadFileBytes(source, &bytes) && WriteFileBytes(path, bytes);
}

std::string MakeScratchDirectory(const std::string& tag)
{
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    static unsigned counter = 0;
    for (;;) {
        const std::string path = std::string(temp) + "services-exe-" + tag + "-" +
                                 std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        if (CreateDirectoryA(path.c_str(), nullptr))
            return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
}

void RemoveTree(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA entry;
    {
        ScopedFindHandle search(FindFirstFileA((path + "\\*").c_str(), &entry));
        if (search.IsValid()) {
            do {
                const std::string name = entry.cFileName;
                if (name != "." && name != "..")
                    RemoveTree(path + "\\" + name);
            } while (FindNextFileA(search.Get(), &entry));
        }
    }
    RemoveDirectoryA(path.c_str());
}

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string WindowsDirectory()
{
    char directory[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
    return length != 0 && length < MAX_PATH ? std::string(directory) : std::string();
}

std::string SystemDirectory()
{
    char directory[MAX_PATH];
    const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    return length != 0 && length < MAX_PATH ? std::string(directory) : std::string();
}
