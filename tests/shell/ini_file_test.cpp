#include "shell/ini_file.h"

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
    const auto ini = Write("[Zarnix32]\n  JobDir  =   \"/opt/my suite/JOB\"   \r\nSysDir= '/sys' \r\nA=\"x\"y\"\r\n");
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

}  // namespace
}  // namespace zrx
