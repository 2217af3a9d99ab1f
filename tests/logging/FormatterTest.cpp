// The line formats: every field a topic carries, the program's level-and-text
// form, the NUL for a plain target and the cut at 16384 units.
#include <gtest/gtest.h>

#include <string>

#include "LoggingSession.h"
#include "logging/Formatter.h"
#include "logging/FormatterCustom.h"
#include "logging/FormatterMSVC.h"
#include "logging/Topic.h"
#include "support/LogCapture.h"

namespace {

using logging::Topic;

class Formatters : public LoggingSession {};

const std::wstring kNul(1, L'\0');

TEST_F(Formatters, RenderEveryCarriedFieldInItsPlace)
{
    RecordingTarget plain(true);
    RecordingTarget file;

    Topic info(logging::LevelInfo, 54, 0.0, L"text");
    Topic empty(logging::LevelDebug, 7, 0.0, L"");
    Topic unleveled(logging::LevelAll, 0, 0.0, L"no level");
    Topic tagged(logging::LevelError, 3, 2.5, L"t");
    tagged.fileName.AssignView(L"Entry.cpp", nullptr);
    tagged.braceTag.AssignView(L"b", nullptr);
    tagged.bracketTag.AssignView(L"k", nullptr);
    tagged.fields |= logging::FieldFileName | logging::FieldBraceTag | logging::FieldBracketTag;
    Topic noText(logging::LevelWarning, 0, 0.0);

    logging::FormatterMSVC msvc;
    FormatterCustom custom;
    const struct {
        logging::Formatter& formatter;
        const Topic& topic;
        const logging::Target& target;
        std::wstring line;
    } cases[] = {
        {msvc, info, plain, L"54) : info: text\r\n" + kNul},
        {msvc, info, file, L"54) : info: text\r\n"},
        {custom, info, file, L"info: text\r\n"},
        {custom, info, plain, L"info: text\r\n" + kNul},
        {custom, empty, file, L"debug: \r\n"},
        {msvc, unleveled, file, L"no level\r\n"},
        {custom, unleveled, file, L"no level\r\n"},
        {msvc, tagged, file, L"Entry.cpp(3) : error: {b} [k] t\r\n"},
        {custom, tagged, file, L"error: {b} [k] t\r\n"},
        {custom, noText, file, L"warning: "},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(Content(c.formatter.FormatLine(c.topic, c.target)), c.line) << "row " << row;
        ++row;
    }
}

TEST_F(Formatters, ProgramFormatDropsOnlyLineAndFileName)
{
    FormatterCustom custom;
    Topic topic(logging::LevelInfo, 1, 0.0, L"x");
    topic.fields = 0x7F;
    EXPECT_EQ(custom.SelectFields(topic), 0x79u);
}

// Cuts at the 16384th unit lose the rest of the text, the CR LF or only its
// LF, and the next line follows directly behind.
TEST(FormatterCut, LongLinesAreCutAtTheLineBuffer)
{
    const int room = logging::Formatter::kLineUnits - 6;  // behind "info: "
    const struct {
        int textUnits;
        std::wstring ending;
    } cases[] = {
        {room - 2, L"\r\n"},
        {room - 1, L"\r"},
        {room, L""},
        {room + 5000, L""},
    };
    for (const auto& c : cases) {
        LogCapture capture;
        const std::wstring text(static_cast<size_t>(c.textUnits), L'x');
        LogInfo(L"%ws", text.c_str());
        LogInfo(L"next");
        const std::wstring kept(static_cast<size_t>(c.textUnits < room ? c.textUnits : room), L'x');
        EXPECT_EQ(capture.Raw(), L"info: " + kept + c.ending + L"info: next\r\n") << c.textUnits;
    }
}

TEST(FormatterUnits, SurrogatePairsAndControlUnitsPassUnchanged)
{
    LogCapture capture;
    const wchar_t text[] = {0xD83D, 0xDE00, L' ', 0x00E9, L'\t', 0xDBFF, 0xDFFF, 0};
    LogInfo(L"%ws", text);
    EXPECT_EQ(capture.Raw(), L"info: " + std::wstring(text) + L"\r\n");
}

}  // namespace
