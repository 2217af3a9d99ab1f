#pragma once
// The target that writes formatted lines into a UTF-16LE file: opened on the
// first line (with a byte order mark when the file is new), appended to, and
// closed when the target is destroyed.
#include <cstdio>

#include "logging/Target.h"

namespace logging {

class LogFile : public Target {
public:
    // Copies path; nothing is opened yet.
    explicit LogFile(const char* path);
    // Closes the stream when one is open.
    ~LogFile() override;

    // 0 on success; the runtime's error number when the file cannot be opened
    // (the next line tries again); -1 on a short write or when disabled.
    int WriteText(const String& line) override;
    virtual int OpenFile();
    virtual int WriteByteOrderMark();
    // 0 when all count units were written, -1 otherwise.
    virtual int WriteUnits(size_t count, const wchar_t* data);

    char* path = nullptr;
    bool needsOpen = true;
    bool openFailed = false;
    FILE* file = nullptr;

protected:
    // The append open of OpenFile; a seam for the case of no stream without
    // an error number.
    virtual int OpenStream(FILE** stream);
};

}  // namespace logging
