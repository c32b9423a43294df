#include <gtest/gtest.h>

#include "support/app_fixture.h"
#include "support/run_cli.h"

namespace zrx {
namespace {

using test::RunCli;

TEST(CliShowTest, PrintsTheRowsTheGridShows) {
    test::Installation suite;
    test::TempDir upgrade;
    test::WriteFile(upgrade / "upgrade.lst",
                    "0,Upgrade.PART,A_Upg.SYMBOL,I_Upg.SYMBOL,Upgrade.PACKAGE,Upgrade.SPARAM,Upgrade.MPARAM\n"
                    " 1,0,1,7400,Logic.PART\n01,0,1,7404,Logic.PART\n4,1,1,held.TAL\n4,0,9,op.sbc,OPAMP\n"
                    "4,0,3,notes.txt,Release notes\n99,END\n2,0,1,NAND,Logic.SYMBOL,A_Upg.SYMBOL\n");
    const auto result = RunCli({"show", "--suite", suite.Dir(), upgrade.Path()});
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string lib = suite / "LIB";
    EXPECT_EQ(result.out, "7400\tLogic.PART\t" + lib + "\tYES\tPart file\n" +
                              "7404\tLogic.PART\t" + lib + "\tYES\tPart file\n" +
                              "NAND\tLogic.SYMBOL\t" + lib + "\tYES\tSymbol\n" +
                              "op.sbc\tOPAMP\t" + (suite / "ZSM_SBK") + "\tYES\tSpice subcircuit file\n" +
                              "notes.txt\t" + (suite / "SYS") + "\t" + (suite / "SYS") + "\tYES\tRelease notes\n" +
                              "\t\t\t\t\n");
}

TEST(CliShowTest, ALoadFailurePrintsItsBoxAndExitsTwo) {
    test::Installation suite;
    test::TempDir upgrade;
    test::WriteFile(upgrade / "Upgrade.lst", "0,Upgrade.PART,a,b,c,d,e\r\n\r\n");
    auto result = RunCli({"show", "--suite", suite.Dir(), upgrade.Path()});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "Make sure that Upgrade files are in the specified path :  " + (upgrade / "Upgrade.lst") + "\n");
    EXPECT_EQ(result.out, "");

    test::WriteFile(upgrade / "Upgrade.lst", "0,Upgrade.PART,a,b,c,d,e\r\n4,0,1,../x.dat\r\n");
    result = RunCli({"show", "--suite", suite.Dir(), upgrade.Path()});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("Unsafe name"), std::string::npos);
    EXPECT_EQ(result.out, "");
}

TEST(CliShowTest, AStartUpFailurePrintsTheWindowsBox) {
    test::Installation suite;
    suite.keys.erase("LibDir");
    suite.WriteIni();
    const auto result = RunCli({"show", "--suite", suite.Dir(), suite.Dir()});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "Unknown Error\n");
}

}  // namespace
}  // namespace zrx
