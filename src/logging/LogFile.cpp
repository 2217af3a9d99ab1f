#include "logging/LogFile.h"

#include <cstring>

#include "logging/Allocator.h"
#include "logging/AppendFileOpen.h"
#include "logging/String.h"

namespace logging {

LogFile::LogFile(const char* filePath)
{
    nullTerminates = false;
    if (filePath) {
        const size_t bytes = strlen(filePath) + 1;
        path = static_cast<char*>(Allocate(bytes));
        if (path)
            memcpy(path, filePath, bytes);
    }
}

LogFile::~LogFile()
{
    if (file)
        fclose(file);
    Free(path);
}

int LogFile::WriteText(const String& line)
{
    if (openFailed)
        return -1;
    if (needsOpen) {
        const int opened = OpenFile();
        if (opened != 0)
            return opened;
        needsOpen = false;
    }
    return WriteUnits(static_cast<size_t>(line.Length()), line.Data());
}

int LogFile::OpenFile()
{
    bool existed = false;
    if (path) {
        if (FILE* probe = fopen(path, "r")) {
            fclose(probe);
            existed = true;
        }
    }
    const int error = OpenStream(&file);
    if (error != 0) {
        file = nullptr;
        return error;
    }
    if (!file) {
        openFailed = true;
        return -1;
    }
    if (!existed)
        WriteByteOrderMark();
    return 0;
}

int LogFile::OpenStream(FILE** stream)
{
    return OpenForAppendUnshared(path, stream);
}

int LogFile::WriteByteOrderMark()
{
    const unsigned long order = 0x01020304;
    const bool bigEndian = *reinterpret_cast<const unsigned char*>(&order) == 1;
    // U+FEFF in the machine's order.
    const unsigned char bytes[2] = {static_cast<unsigned char>(bigEndian ? 0xFE : 0xFF),
                                    static_cast<unsigned char>(bigEndian ? 0xFF : 0xFE)};
    wchar_t unit;
    memcpy(&unit, bytes, sizeof unit);
    return WriteUnits(1, &unit);
}

int LogFile::WriteUnits(size_t count, const wchar_t* data)
{
    if (!file || (count != 0 && !data))
        return -1;
    return fwrite(data, sizeof(wchar_t), count, file) == count ? 0 : -1;
}

}  // namespace logging
