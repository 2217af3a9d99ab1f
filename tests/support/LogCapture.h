#pragma once
// Test helper: starts logging and attaches an in-memory target with the
// program's line format, so a test can compare the exact log lines.
#include <string>
#include <vector>

class LogCapture {
public:
    LogCapture();   // StartLogging(), then the capturing target
    ~LogCapture();  // destroys the target, then StopLogging()
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line written so far, e.g. L"info: Cleaning finished", without CR LF.
    std::vector<std::wstring> Lines() const;
    // The raw UTF-16 units the target received (with CR LF).
    std::wstring Raw() const;
    void Clear();

private:
    struct Impl;
    Impl* impl_;
};
