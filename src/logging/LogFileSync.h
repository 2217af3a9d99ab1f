#pragma once
// The log file target that flushes after every write, so each line is in the
// file as soon as its log call returns.
#include "logging/LogFile.h"

namespace logging {

class LogFileSync : public LogFile {
public:
    using LogFile::LogFile;

    int WriteUnits(size_t count, const wchar_t* data) override;
};

}  // namespace logging
