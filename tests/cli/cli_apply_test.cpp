#include <gtest/gtest.h>

#include "support/run_cli.h"

namespace zrx {
namespace {

using test::RunCli;

class CliApplyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(RunCli({"demo", m_dir.Path()}).status, 0); }
    std::string Suite() const { return m_dir / "suite"; }
    std::string Upgrade() const { return m_dir / "upgrade"; }
    test::TempDir m_dir;
};

TEST_F(CliApplyTest, TheDemoUpgradeAppliesCompletely) {
    const auto result = RunCli({"apply", "--suite", Suite(), "--yes", "--summary", m_dir / "s.txt", Upgrade()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.find("Not copied"), std::string::npos);
    EXPECT_NE(result.out.find("74HC08"), std::string::npos);
    EXPECT_EQ(RunCli({"lib", "ls", Suite() + "/LIB/Logic.PART"}).out,
              "4011\n7400\n7402\n7404\n7408\n7432\n7474\n7486\n74HC00\n74HC04\n74HC08\n74HC14\n");
    EXPECT_NE(RunCli({"lib", "ls", Suite() + "/LIB/I_Analog.SYMBOL"}).out.find("LDO"), std::string::npos);
    EXPECT_EQ(RunCli({"lib", "ls", Suite() + "/ZSM_MOD/Mosfets.SML"}).out, "Q2N7000\n");
    EXPECT_TRUE(std::filesystem::exists(Suite() + "/ZSM_SBK/REGS/LM2596.SBC"));
    EXPECT_TRUE(std::filesystem::exists(Suite() + "/JOB/airflow.DAT"));
    const std::string saved = test::ReadFile(m_dir / "s.txt");
    EXPECT_NE(saved.find("74HC08\tLogic.PART\t" + Suite() + "/LIB\tCopied\r\n"), std::string::npos);
    const std::string modpar = test::ReadFile(Suite() + "/ZSM_MOD/modpar.idx");
    EXPECT_NE(modpar.find("D||DIODES|D1N4148|small-signal switching diode\r\nD||DIODES|D1N5822|3A 40V Schottky rectifier\r\n"),
              std::string::npos);
    EXPECT_NE(modpar.find("NMOS||MOSFETS|Q2N7000|small-signal N-channel MOSFET\r\n"), std::string::npos);
    EXPECT_EQ(modpar.find("J2N5457"), std::string::npos);  // not a model library file (.SML)
    const std::string subcir = test::ReadFile(Suite() + "/ZSM_SBK/Subcir.idx");
    EXPECT_NE(subcir.find("X|LM7805|library|5V positive voltage regulator|REGS| Regulator\r\n"
                          "X|LM2596|library|3A step-down switching regulator|REGS| Regulator\r\n"),
              std::string::npos);

    // Applying the same upgrade again leaves both index files byte for byte.
    EXPECT_EQ(RunCli({"apply", "--suite", Suite(), "--yes", Upgrade()}).status, 0);
    EXPECT_EQ(test::ReadFile(Suite() + "/ZSM_MOD/modpar.idx"), modpar);
    EXPECT_EQ(test::ReadFile(Suite() + "/ZSM_SBK/Subcir.idx"), subcir);
}

TEST_F(CliApplyTest, WithoutATerminalAnUnansweredQuestionIsNo) {
    const auto noConfirmation = RunCli({"apply", "--suite", Suite(), Upgrade()});
    EXPECT_EQ(noConfirmation.status, 2);
    EXPECT_NE(noConfirmation.err.find("-> No (no terminal to ask"), std::string::npos);
    const auto noConfirmationJson = RunCli({"apply", "--suite", Suite(), "--json", Upgrade()});
    EXPECT_EQ(noConfirmationJson.status, 2);
    EXPECT_NE(noConfirmationJson.out.find("\"exit_status\": 2"), std::string::npos) << noConfirmationJson.out;
    EXPECT_EQ(RunCli({"lib", "ls", Suite() + "/LIB/Logic.PART"}).out.find("74HC08"), std::string::npos);

    const auto asked = RunCli({"apply", "--suite", Suite(), "--yes", "--ask", "--only", "7400", "--only", "74HC08", Upgrade()});
    EXPECT_EQ(asked.status, 1);  // 7400 is there already: asked, answered No
    EXPECT_NE(asked.err.find("Part with same name (7400) are already stored in lib:"), std::string::npos);
    EXPECT_NE(asked.out.find("7400"), std::string::npos);
    EXPECT_NE(asked.out.find("Not Copied"), std::string::npos);
    EXPECT_EQ(asked.out.find("LM2596"), std::string::npos);  // not selected: no row
    const auto askedJson = RunCli({"apply", "--suite", Suite(), "--yes", "--ask", "--only", "7400", "--json", Upgrade()});
    EXPECT_EQ(askedJson.status, 1);
    EXPECT_NE(askedJson.out.find("\"status\": \"not copied\",\n      \"why\": \"it is there already, and the answer was "
                                 "not to overwrite it\""),
              std::string::npos)
        << askedJson.out;
}

TEST_F(CliApplyTest, SkippedElementsAreLeftOut) {
    const auto result = RunCli({"apply", "--suite", Suite(), "--yes", "--skip", "74HC08", Upgrade()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.find("74HC08"), std::string::npos);
    EXPECT_EQ(RunCli({"lib", "ls", Suite() + "/LIB/Logic.PART"}).out.find("74HC08"), std::string::npos);
    EXPECT_EQ(RunCli({"demo", m_dir.Path()}).status, 2);  // the folder is not empty
}

TEST(CliRelativeFoldersTest, DemoShowAndApplyWorkFromTheCurrentFolder) {
    test::TempDir dir;
    ASSERT_EQ(RunCli({"demo", "here"}, dir.Path()).status, 0);
    EXPECT_NE(test::ReadFile(dir / "here/suite/ZARNIX32.INI").find("LibDir=" + (dir / "here/suite/LIB")), std::string::npos);
    EXPECT_EQ(RunCli({"show", "--suite", "here/suite", "here/upgrade/"}, dir.Path()).status, 0);
    EXPECT_EQ(RunCli({"apply", "--suite", "here/suite", "--yes", "here/upgrade"}, dir.Path()).status, 0);
}

}  // namespace
}  // namespace zrx
