// The log file target on a real file: its exact bytes, appending across
// targets, the deferred open, a missing directory and the disabled state.
#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "FileBytes.h"
#include "LoggingSession.h"
#include "logging/FormatterCustom.h"
#include "logging/LogFile.h"
#include "logging/LogFileSync.h"

namespace {

std::string Utf16Bytes(const std::wstring& units)
{
    std::string bytes;
    for (wchar_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
}

const std::string kBom = "\xFF\xFE";

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

long long SizeOnDisk(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// A fresh directory of the test's own below the temporary folder.
class LogFileOnDisk : public LoggingSession {
protected:
    void SetUp() override
    {
        LoggingSession::SetUp();
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
        static int counter = 0;
        dir = std::string(temp) + "vorn-logfile-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++counter);
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
        path = dir + "\\TarnvexFix.log";
    }

    std::string dir;
    std::string path;
};

// The target as the entry sets it up: the program's format attached.
template <class File>
struct ProgramLog {
    explicit ProgramLog(const std::string& path) : file(path.c_str()) { file.formatter = &formatter; }
    ~ProgramLog() { file.formatter = nullptr; }

    File file;
    FormatterCustom formatter;
};

// Counts the opens and keeps what each returned.
template <class Base>
class CountingLogFile : public Base {
public:
    using Base::Base;

    int OpenFile() override
    {
        const int result = Base::OpenFile();
        opens.push_back(result);
        return result;
    }

    std::vector<int> opens;
};

TEST_F(LogFileOnDisk, NewFileHoldsByteOrderMarkAndExactLines)
{
    {
        ProgramLog<logging::LogFileSync> log(path);
        EXPECT_FALSE(Exists(path)) << "opened before the first line";
        LogInfo(L"Log started %04d.%02d.%02d %02d:%02d:%02d", 2024, 3, 9, 7, 5, 0);
        LogDebug(L"AdjustTokenPrivileges error %u\n", 1300u);
        LogInfo(L"%ws", L"\xD83D\xDE00 caf\x00E9");
        // Unshared while open.
        std::string ignored;
        EXPECT_FALSE(ReadFileBytes(path, &ignored));
    }
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, &bytes));
    EXPECT_EQ(bytes, kBom + Utf16Bytes(L"info: Log started 2024.03.09 07:05:00\r\n"
                                       L"debug: AdjustTokenPrivileges error 1300\n\r\n"
                                       L"info: \xD83D\xDE00 caf\x00E9\r\n"));
}

// The log's name made a second name of another file (a planted hard link):
// the log is lost, the other file keeps its bytes.
TEST_F(LogFileOnDisk, AFileWithAnotherNameIsNeverWrittenAsTheLog)
{
    const std::string other = dir + "\\other.txt";
    {
        FILE* f = fopen(other.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs("kept", f);
        fclose(f);
    }
    ASSERT_TRUE(CreateHardLinkA(path.c_str(), other.c_str(), nullptr));
    {
        ProgramLog<CountingLogFile<logging::LogFileSync>> log(path);
        LogInfo(L"not here");
        EXPECT_EQ(log.file.opens, (std::vector<int>{EACCES}));
    }
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(other, &bytes));
    EXPECT_EQ(bytes, "kept");
}

TEST_F(LogFileOnDisk, LaterTargetAppendsWithoutSecondByteOrderMark)
{
    for (int run = 1; run <= 2; ++run) {
        ProgramLog<logging::LogFileSync> log(path);
        LogInfo(L"run %d", run);
    }
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, &bytes));
    EXPECT_EQ(bytes, kBom + Utf16Bytes(L"info: run 1\r\ninfo: run 2\r\n"));
}

TEST_F(LogFileOnDisk, SyncTargetFlushesEveryLineAndPlainTargetAtClose)
{
    // "info: abcd" CR LF is 12 units behind the 2 bytes of the mark.
    {
        ProgramLog<logging::LogFileSync> log(path);
        LogInfo(L"abcd");
        EXPECT_EQ(SizeOnDisk(path), 2 + 2 * 12);
        LogInfo(L"abcd");
        EXPECT_EQ(SizeOnDisk(path), 2 + 2 * 24);
    }
    const std::string buffered = dir + "\\buffered.log";
    {
        ProgramLog<logging::LogFile> log(buffered);
        LogInfo(L"abcd");
        EXPECT_EQ(SizeOnDisk(buffered), 0);
    }
    EXPECT_EQ(SizeOnDisk(buffered), 2 + 2 * 12);
}

TEST_F(LogFileOnDisk, MissingDirectoryLosesLinesAndRetriesAtEveryLine)
{
    const std::string missing = dir + "\\RA Ravariv";
    const std::string missingPath = missing + "\\TarnvexFix.log";
    {
        ProgramLog<CountingLogFile<logging::LogFileSync>> log(missingPath);
        LogInfo(L"lost one");
        LogInfo(L"lost two");
        EXPECT_EQ(log.file.opens, (std::vector<int>{ENOENT, ENOENT}));

        logging::String line;
        line.Reserve(8);
        line.Append(L"x\r\n");
        EXPECT_EQ(log.file.WriteText(line), ENOENT);
        EXPECT_TRUE(log.file.needsOpen);
        EXPECT_FALSE(Exists(missingPath));

        ASSERT_TRUE(CreateDirectoryA(missing.c_str(), nullptr));
        LogInfo(L"kept");
        LogInfo(L"kept too");
        EXPECT_EQ(log.file.opens, (std::vector<int>{ENOENT, ENOENT, ENOENT, 0}));
    }
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(missingPath, &bytes));
    EXPECT_EQ(bytes, kBom + Utf16Bytes(L"info: kept\r\ninfo: kept too\r\n"));
}

// An open that yields no stream and no error number.
class StreamlessLogFile : public CountingLogFile<logging::LogFileSync> {
public:
    using CountingLogFile::CountingLogFile;

protected:
    int OpenStream(FILE** stream) override
    {
        *stream = nullptr;
        return 0;
    }
};

TEST_F(LogFileOnDisk, DisabledTargetWritesNothingAndNeverRetries)
{
    ProgramLog<StreamlessLogFile> log(path);
    LogInfo(L"one");
    LogInfo(L"two");
    EXPECT_TRUE(log.file.openFailed);
    EXPECT_EQ(log.file.opens, (std::vector<int>{-1}));

    logging::String line;
    line.Reserve(8);
    line.Append(L"x\r\n");
    EXPECT_EQ(log.file.WriteText(line), -1);
    EXPECT_EQ(log.file.opens.size(), 1u);
    EXPECT_FALSE(Exists(path));
}

}  // namespace
