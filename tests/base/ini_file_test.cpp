#include "base/ini_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace zrx {
namespace {

class ReadIniStringTest : public ::testing::Test {
protected:
    std::string Write(std::string_view content) {
        test::WriteFile(m_dir / "ZARNIX32.INI", content);
        return m_dir / "ZARNIX32.INI";
    }
    test::TempDir m_dir;
};

TEST_F(ReadIniStringTest, ComparesSectionAndKeyWithoutCase) {
    const auto ini = Write("[zarnix32]\nlibdir=/opt/z/LIB\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "LibDir", "dflt"), "/opt/z/LIB");
}

TEST_F(ReadIniStringTest, FirstMatchingKeyWins) {
    const auto ini = Write("[Zarnix32]\nLibDir=/first\nLibDir=/second\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "LibDir", ""), "/first");
}

TEST_F(ReadIniStringTest, RemovesBlanksAndOnePairOfQuotes) {
    const auto ini =
        Write("[Zarnix32]\n  JobDir  =   \"/opt/my suite/JOB\"   \r\nSysDir= '/sys' \r\nA=\"x\"y\"\r\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "JobDir", ""), "/opt/my suite/JOB");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "SysDir", ""), "/sys");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "A", ""), "x\"y");
}

TEST_F(ReadIniStringTest, SkipsCommentsAndOtherSections) {
    const auto ini = Write("[Other]\nLibDir=/wrong\n[Zarnix32]\n;LibDir=/commented\nLibDir=/right\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "LibDir", ""), "/right");
}

TEST_F(ReadIniStringTest, MissingFileSectionOrKeyGivesTheDefault) {
    const auto ini = Write("[Zarnix32]\nLibDir=/x\n");
    EXPECT_EQ(ReadIniString(m_dir / "none.ini", "Zarnix32", "LibDir", "\\Zarnix32\\LIB"), "\\Zarnix32\\LIB");
    EXPECT_EQ(ReadIniString(ini, "Nope", "LibDir", "d"), "d");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "JobDir", "d"), "d");
}

TEST_F(ReadIniStringTest, AnEmptyValueIsEmptyNotTheDefault) {
    const auto ini = Write("[Zarnix32]\nULM3JobDir=\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "ULM3JobDir", "\\CADJOB"), "");
}

TEST_F(ReadIniStringTest, CutsValuesLongerThanTheBuffer) {
    const std::string longValue(kIniBufferSize + 500, 'v');
    const auto ini = Write("[Zarnix32]\nLibDir=" + longValue + "\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "LibDir", "").size(), kIniBufferSize);
}

// Cases derived from the public test suites of the platform's profile reader (a compatibility
// layer's own tests, and a reverse-engineering suite run against the platform).
TEST_F(ReadIniStringTest, LinesEndAtCarriageReturnsToo) {
    const auto ini = Write("[Zarnix32]\rLibDir=/lib\rJobDir=\"/job\"\r\r[Other]\rSysDir=/no\r");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "LibDir", ""), "/lib");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "JobDir", ""), "/job");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "SysDir", "d"), "d");
    const auto stray = Write("[Zarnix32]\nLibDir=/lib\rJobDir=/job\n");
    EXPECT_EQ(ReadIniString(stray, "Zarnix32", "LibDir", ""), "/lib");
    EXPECT_EQ(ReadIniString(stray, "Zarnix32", "JobDir", ""), "/job");
}

TEST_F(ReadIniStringTest, OnlyTheFirstSectionOfANameIsRead) {
    const auto ini =
        Write("[Zarnix32]\nLibDir=/first\n[Other]\nX=1\n[ZARNIX32]\nLibDir=/second\nJobDir=/job\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "LibDir", ""), "/first");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "JobDir", "d"), "d");
}

TEST_F(ReadIniStringTest, BlanksOfTheFileIncludeTabsVerticalTabsAndFormFeeds) {
    const auto ini = Write(" \t[\t Zarnix32 \v]\n \t\vLibDir\f =\t\v/lib \f\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "LibDir", ""), "/lib");
    // The names asked for lose spaces only.
    EXPECT_EQ(ReadIniString(ini, "  Zarnix32 ", " LibDir  ", ""), "/lib");
    EXPECT_EQ(ReadIniString(ini, "\tZarnix32", "LibDir", "d"), "d");
    // The end-of-file mark (Ctrl-Z) after the last value is no part of it.
    EXPECT_EQ(ReadIniString(Write("[Zarnix32]\nLibDir=/lib\x1a"), "Zarnix32", "LibDir", ""), "/lib");
}

TEST_F(ReadIniStringTest, ASectionNameEndsAtItsFirstClosingBracketOrTheLineEnd) {
    const auto ini = Write("[Zarnix32] trailing\nLibDir=/a\n[Open\nLibDir=/b\n[A]B]\nLibDir=/c\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "LibDir", ""), "/a");
    EXPECT_EQ(ReadIniString(ini, "Open", "LibDir", ""), "/b");
    EXPECT_EQ(ReadIniString(ini, "A", "LibDir", ""), "/c");
}

TEST_F(ReadIniStringTest, QuotesCommentsAndKeysWithoutValues) {
    const auto ini =
        Write("[Zarnix32]\nA='x\"\nB=\"'q'\"\nC=;not a comment\n;D=/comment\nE\nE=/later\nF=\"\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "A", ""), "'x\"");  // quotes that differ stay
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "B", ""), "'q'");   // only the outermost pair goes
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "C", ""), ";not a comment");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", ";D", "d"), "d");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "E", "d"), "/later");  // a line without "=" is no key
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "F", ""), "\"");
}

TEST_F(ReadIniStringTest, TheDefaultLosesItsTrailingBlanks) {
    const auto ini = Write("[Zarnix32]\n");
    EXPECT_EQ(ReadIniString(ini, "Zarnix32", "LibDir", " one two  "), " one two");
    EXPECT_EQ(ReadIniString(m_dir / "none.ini", "Zarnix32", "LibDir", "x\t "), "x\t");
}

TEST_F(ReadIniStringTest, ByteOrderMarks) {
    // UTF-16 little endian is read; a UTF-8 mark stays part of the first line and spoils it.
    const char bytes[] = "\xFF\xFE[\0Z\0]\0\r\0\n\0L\0=\0/\0l\0\xE9\0\r\0\n\0";
    const std::string utf16(bytes, sizeof bytes - 1);
    EXPECT_EQ(ReadIniString(Write(utf16), "Z", "L", ""), "/l\xC3\xA9");
    const auto utf8 = Write("\xEF\xBB\xBF[Zarnix32]\nLibDir=/a\n[Other]\nLibDir=/b\n");
    EXPECT_EQ(ReadIniString(utf8, "Zarnix32", "LibDir", "d"), "d");
    EXPECT_EQ(ReadIniString(utf8, "Other", "LibDir", "d"), "/b");
}

}  // namespace
}  // namespace zrx
