#include "win/BoundedString.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

TEST(AppendBounded, AppendsOnlyWhatFitsWithItsTerminator)
{
    wchar_t buffer[8] = L"abc";
    EXPECT_TRUE(AppendBounded(buffer, 8, L""));
    EXPECT_TRUE(AppendBounded(buffer, 8, L"defg"));  // exactly fills the 8 characters
    EXPECT_STREQ(L"abcdefg", buffer);
    EXPECT_FALSE(AppendBounded(buffer, 8, L"h"));
    EXPECT_STREQ(L"abcdefg", buffer);

    wchar_t small[8] = L"ab";
    EXPECT_FALSE(AppendBounded(small, 8, L"cdefgh"));  // one too many: left as it was
    EXPECT_STREQ(L"ab", small);
}

TEST(AppendBounded, NarrowTextTheSameWay)
{
    char path[12] = "C:\\win";
    EXPECT_TRUE(AppendBounded(path, 12, "\\sys"));
    EXPECT_STREQ("C:\\win\\sys", path);
    EXPECT_FALSE(AppendBounded(path, 12, "32"));
    EXPECT_STREQ("C:\\win\\sys", path);
}

TEST(CopyBounded, CopiesOnlyWhatFitsWithItsTerminator)
{
    wchar_t buffer[6];
    EXPECT_TRUE(CopyBounded(buffer, 6, L"abcde"));
    EXPECT_STREQ(L"abcde", buffer);
    EXPECT_FALSE(CopyBounded(buffer, 6, L"abcdef"));
    EXPECT_STREQ(L"abcde", buffer);
}

TEST(AppendBounded, RefusesABufferWithoutTerminator)
{
    wchar_t buffer[4] = {L'a', L'b', L'c', L'd'};
    EXPECT_FALSE(AppendBounded(buffer, 4, L""));
    EXPECT_EQ(0, wmemcmp(buffer, L"abcd", 4));
}

}  // namespace
