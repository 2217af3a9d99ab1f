// Levels, the text buffer and its printf-style formatting.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cwchar>
#include <string>

#include "LoggingSession.h"
#include "logging/LevelName.h"
#include "logging/WideFormat.h"

namespace {

using logging::String;

TEST(LevelName, MapsEveryValueByItsRange)
{
    const struct {
        int level;
        const wchar_t* name;
    } cases[] = {
        {-2147483647 - 1, L"none"}, {-1, L"none"}, {0, L"none"},        {1, L"emergency"}, {8, L"emergency"},
        {9, L"alert"},              {16, L"alert"}, {17, L"critical"},  {24, L"critical"}, {25, L"error"},
        {32, L"error"},             {33, L"warning"}, {40, L"warning"}, {41, L"info"},     {48, L"info"},
        {56, L"info"},              {64, L"info"},  {72, L"info"},      {73, L"debug"},    {80, L"debug"},
        {81, L"unknown"},           {88, L"unknown"}, {2147483647, L"unknown"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(logging::LevelName(c.level), c.name) << c.level;
}

int FormatInto(wchar_t* buffer, size_t units, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int result = logging::FormatWideTruncating(buffer, units, format, args);
    va_end(args);
    return result;
}

// The bounded formatter: the count written, or -1 and a NUL-terminated cut.
TEST(FormatWideTruncating, CountsFitsAndSignalsCuts)
{
    const struct {
        size_t units;
        int result;
        const wchar_t* text;
    } cases[] = {
        {8, 5, L"ab-12"},  // room to spare
        {6, 5, L"ab-12"},  // exactly the text and its NUL
        {5, -1, L"ab-1"},  // one unit short
        {2, -1, L"a"},
        {1, -1, L""},
    };
    for (const auto& c : cases) {
        wchar_t buffer[16];
        wmemset(buffer, L'#', 16);
        EXPECT_EQ(FormatInto(buffer, c.units, L"%ws-%d", L"ab", 12), c.result) << c.units;
        EXPECT_STREQ(buffer, c.text) << c.units;
        EXPECT_EQ(buffer[c.units], L'#') << "wrote past the buffer at " << c.units;
    }
}

class StringFormat : public LoggingSession {};

TEST_F(StringFormat, LongWideArgumentIsFormattedCompletely)
{
    // Far beyond twice the format's length: several doublings.
    const std::wstring longText(100000, L'q');
    String s;
    s.FormatText(L"<%ws>", longText.c_str());
    const std::wstring expected = L"<" + longText + L">";
    ASSERT_TRUE(s.IsValid());
    EXPECT_STREQ(s.Text(), expected.c_str());
    // The terminator counts into the length of a formatted text.
    EXPECT_EQ(s.Length(), static_cast<int>(expected.size()) + 1);
    EXPECT_FALSE(s.isView);
}

TEST_F(StringFormat, EmptyFormatAndEmptyOutputGiveEmptyText)
{
    String s;
    s.FormatText(L"x%d", 5);
    s.FormatText(L"");
    EXPECT_EQ(Content(s), L"");

    String empty;
    empty.FormatText(L"%ws", L"");
    EXPECT_STREQ(empty.Text(), L"");
}

TEST_F(StringFormat, ReformattingReplacesTheText)
{
    String s;
    s.FormatText(L"first %d", 1);
    s.FormatText(L"%ws", L"second");
    EXPECT_STREQ(s.Text(), L"second");
}

class StringBuffer : public LoggingSession {};

TEST_F(StringBuffer, AppendStopsAtTheCapacity)
{
    String s;
    s.Reserve(5);
    s.Append(L"abc");
    s.AppendChar(L'd');
    EXPECT_EQ(s.Append(L"efgh"), 5);
    EXPECT_EQ(s.AppendChar(L'z'), 5);
    EXPECT_EQ(Content(s), L"abcde");
    s.Clear();
    EXPECT_EQ(s.Append(static_cast<const wchar_t*>(nullptr)), 0);
    EXPECT_EQ(s.Length(), 0);
}

TEST_F(StringBuffer, AssignIntWritesDecimalForms)
{
    const struct {
        int value;
        const wchar_t* text;
    } cases[] = {
        {0, L"0"}, {7, L"7"}, {54, L"54"}, {-3, L"-3"}, {1000, L"1000"},
        {2147483647, L"2147483647"}, {-2147483647 - 1, L"-2147483648"},
    };
    String number;
    number.ReserveNumber();
    for (const auto& c : cases) {
        EXPECT_EQ(number.AssignInt(c.value), static_cast<int>(wcslen(c.text)));
        EXPECT_EQ(Content(number), c.text);
        EXPECT_EQ(*number.end, L'\0');
    }
}

TEST_F(StringBuffer, FindGivesTheFirstOccurrence)
{
    String hay;
    hay.AssignView(L"info: abcabc", nullptr);
    const struct {
        const wchar_t* needle;
        int at;
    } cases[] = {{L"info", 0}, {L"abc", 6}, {L"cab", 8}, {L"abcd", -1}, {L"", 0}};
    for (const auto& c : cases) {
        String needle;
        needle.AssignView(c.needle, nullptr);
        EXPECT_EQ(hay.Find(needle), c.at) << c.needle;
    }
    String invalid;
    EXPECT_EQ(hay.Find(invalid), -1);
    EXPECT_EQ(invalid.Find(hay), -1);
}

TEST_F(StringBuffer, AssignCopiesIntoAnOwnedBuffer)
{
    wchar_t source[] = L"copy me";
    String view;
    view.AssignView(source, nullptr);
    String copy;
    copy.AssignView(L"old view", nullptr);
    EXPECT_EQ(copy.Assign(view), view.Length());
    source[0] = L'X';
    EXPECT_FALSE(copy.isView);
    EXPECT_STREQ(copy.Text(), L"copy me");
}

}  // namespace
