#pragma once
// Sends the process's standard output into a temporary file for the life of
// the object, so a test can read back what printf and std::cout wrote.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>

class CapturedStdout {
public:
    CapturedStdout()
    {
        wchar_t dir[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        GetTempFileNameW(dir, L"out", 0, path_);
        std::cout.flush();
        fflush(stdout);
        saved_ = _dup(1);
        int file = _wopen(path_, _O_WRONLY | _O_TRUNC | _O_BINARY);
        _dup2(file, 1);
        _close(file);
    }
    ~CapturedStdout()
    {
        Restore();
        DeleteFileW(path_);
    }

    // Everything written so far; standard output goes back to where it was.
    std::string Text()
    {
        Restore();
        std::string text;
        if (FILE* f = _wfopen(path_, L"rb")) {
            char chunk[4096];
            size_t n;
            while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
                text.append(chunk, n);
            fclose(f);
        }
        return text;
    }

private:
    void Restore()
    {
        if (saved_ < 0)
            return;
        std::cout.flush();
        fflush(stdout);
        _dup2(saved_, 1);
        _close(saved_);
        saved_ = -1;
    }

    wchar_t path_[MAX_PATH];
    int saved_ = -1;
};
