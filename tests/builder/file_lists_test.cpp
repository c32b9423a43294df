#include <gtest/gtest.h>

#include "builder/builder_lists.h"
#include "builder/upgrade_writer.h"
#include "support/builder_choice.h"
#include "support/folder.h"
#include "support/upgrade_fixture.h"

namespace zrx {
namespace {

class FileListsTest : public test::AppTest {
protected:
    void SetUp() override {
        test::WriteFile(m_suite / "JOB/a.DAT", "a");
        test::WriteFile(m_suite / "JOB/A.dat", "A");
        test::WriteFile(m_suite / "ZSM_SBK/OPAMPS/op.sbc", "1");
        test::WriteFile(m_suite / "ZSM_SBK/OTHER/op.sbc", "2");
        test::WriteFile(m_suite / "SYS/x.ext", "x");
        Start(true);
    }
    App& A() { return *m_app; }
    void SelectAll(ui::ListBox& list) {
        for (int i = 0; i < list.ListCount(); ++i) list.SetSelected(i, true);
    }
};

TEST_F(FileListsTest, TheSameFileIsChosenOnceWithoutRegardToCase) {
    ui::MainForm& m = A().window.main;
    m.F_Thermdat.Refresh();
    SelectAll(m.F_Thermdat);
    m.F_Datmove.Click();
    m.F_Datmove.Click();
    EXPECT_EQ(m.F_Datlist.Items(), std::vector<std::string>{"A.dat"});
    ASSERT_EQ(A().builder.tables.UpgDatFiles.size(), 2u);
    EXPECT_EQ(A().builder.tables.UpgDatFiles[0].KindCode, 2);
    m.F_Datlist.UserSelect({0}, 0);
    m.F_Remdat.Click();
    EXPECT_TRUE(m.F_Datlist.Items().empty());
    EXPECT_EQ(A().builder.tables.UpgDatFiles.size(), 1u);
}

TEST_F(FileListsTest, SubcircuitsRecordTheirFolderAndOneNameIsTakenOnce) {
    ui::MainForm& m = A().window.main;
    m.M_Fileitems(5).Click();
    m.F_sbcdir.UserOpen(m.F_sbcdir.ListCount() - 2);  // OPAMPS (then OTHER)
    ASSERT_EQ(m.F_sbcdir.Path(), m_suite / "ZSM_SBK/OPAMPS");
    SelectAll(m.F_SBCItem);
    m.F_Sbcmove.Click();
    m.F_sbcdir.SetPath(m_suite / "ZSM_SBK/OTHER");
    m.F_sbcdir.onChange();
    SelectAll(m.F_SBCItem);
    m.F_Sbcmove.Click();
    EXPECT_EQ(m.F_SBCList.Items(), std::vector<std::string>{"op.sbc"});
    const UpgSbcFile& f = A().builder.tables.UpgSbcFiles[0];
    EXPECT_EQ(f.SubDir, "OPAMPS");
    EXPECT_EQ(f.SourceDir, m_suite / "ZSM_SBK/OPAMPS");
    EXPECT_EQ(f.KindCode, 9);
    // At a drive's root nothing is taken.
    m.F_sbcdir.SetPath("/");
    m.F_Sbcmove.Click();
    EXPECT_EQ(m.F_SBCList.Items(), std::vector<std::string>{"op.sbc"});
    EXPECT_EQ(A().builder.tables.UpgSbcFiles.size(), 2u);
    EXPECT_EQ(LastPathComponent("/a/b"), "b");
    EXPECT_EQ(LastPathComponent("/"), "");
    EXPECT_EQ(LastPathComponent("nothing"), "");
}

TEST_F(FileListsTest, MiscellaneousFilesShowTargetNameAndDescription) {
    ui::MainForm& m = A().window.main;
    m.F_MiscDir.SetPath(m_suite / "SYS");
    m.F_MiscDir.onChange();
    EXPECT_EQ(m.F_Filedesc.Text(), "Zarnix32 System Files");
    m.F_Miscitem.UserSelect({0}, 0);
    m.F_Filedesc.SetText("Misc File");
    m.F_MiscMove.Click();
    m.F_MiscMove.Click();  // the same line again: nothing
    m.F_Filedesc.SetText("   ");
    m.F_Syspath.UserSelect(4);
    m.F_MiscMove.Click();
    EXPECT_EQ(m.F_Mlist.Items(), (std::vector<std::string>{"\\Lib\\x.ext, Misc File", "\\ZSm_mod\\x.ext, "}));
    const auto& t = A().builder.tables.UpgMiscFiles;
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].TargetCode, 1);
    EXPECT_EQ(t[0].SourceDir, m_suite / "SYS");
    EXPECT_EQ(t[1].TargetCode, 5);
    EXPECT_EQ(t[1].Description, "");
    // Enter and leaving the box trim the description.
    m.F_Filedesc.SetText("  spaced  ");
    EXPECT_EQ(m.F_Filedesc.KeyPress(13), 13);
    EXPECT_EQ(m.F_Filedesc.Text(), "spaced");
    m.F_Filedesc.SetText(" again ");
    m.F_Filedesc.LoseFocus();
    EXPECT_EQ(m.F_Filedesc.Text(), "again");
}

TEST_F(FileListsTest, DefaultDescriptionsFollowTheDirectory) {
    ui::MainForm& m = A().window.main;
    m.F_MiscDir.SetPath(m_suite / "JOB");
    m.F_MiscDir.onChange();
    EXPECT_EQ(m.F_Filedesc.Text(), "Zarnix32 Job Files");
    m.F_MiscDir.SetPath(m_suite.Dir());
    m.F_MiscDir.onChange();
    EXPECT_EQ(m.F_Filedesc.Text(), "Zarnix32 Job Files");  // not in the table: kept
    m.F_MiscDir.SetPath(m_suite / "ZSM_SBK");
    m.F_MiscDir.onChange();
    EXPECT_EQ(m.F_Filedesc.Text(), "Subcircuit Files");
}

TEST_F(FileListsTest, TheDestinationGivesSevenPathsWithOneSeparator) {
    ui::MainForm& m = A().window.main;
    test::TempDir dest;
    m.F_Dir.SetPath(dest.Path());
    m.F_Dir.onChange();
    EXPECT_EQ(m.F_Destdpath.Caption(), dest / "Upgrade.PART");
    EXPECT_EQ(m.F_Destfmtpath.Caption(), dest / "Upgrade.lst");
    EXPECT_EQ(m.F_DestI_spath.Caption(), dest / "I_Upg.SYMBOL");
    EXPECT_EQ(m.F_Destmplpath.Caption(), dest / "Upgrade.MPARAM");
    // The paths are the builder's: one separator, whatever the folder ends in.
    SetDestinationFolder(A().builder, dest.Path() + "/");
    EXPECT_EQ(DestinationPath(A().builder, "Upgrade.MPARAM"), dest / "Upgrade.MPARAM");
    SetDestinationFolder(A().builder, "/");
    EXPECT_EQ(DestinationPath(A().builder, "A_Upg.SYMBOL"), "/A_Upg.SYMBOL");
    m.F_Drive.UserChoose(0);
    EXPECT_EQ(A().builder.destinationFolder, "/");
    EXPECT_EQ(m.F_Destspath.Caption(), "/A_Upg.SYMBOL");
}

// Two loose files whose names differ only in letter case, from two folders, would be one file of
// the upgrade: the second is refused.
TEST_F(FileListsTest, ALooseFileOfANameAnotherFoldersFileHasIsRefused) {
    ui::MainForm& m = A().window.main;
    test::WriteFile(m_suite / "LIB/cool.TAL", "lib");
    test::WriteFile(m_suite / "SYS/COOL.tal", "sys");
    m.M_Fileitems(6).Click();
    test::ChooseFile(m.F_Thermtal, m.F_Talmove, "cool.TAL");
    m.M_Fileitems(9).Click();
    m.F_MiscDir.SetPath(m_suite / "SYS");
    m.F_MiscDir.onChange();
    test::ChooseFile(m.F_Miscitem, m.F_MiscMove, "COOL.tal");
    EXPECT_EQ(m.F_Mlist.ListCount(), 0);
    EXPECT_NE(BoxTexts().back().find("\"COOL.tal\" cannot be chosen"), std::string::npos)
        << BoxTexts().back();
}

TEST_F(FileListsTest, BuildFilesAreCopiedIntoTheDestination) {
    ui::MainForm& m = A().window.main;
    test::TempDir dest;
    m.F_Thermdat.Refresh();
    SelectAll(m.F_Thermdat);
    m.F_Datmove.Click();
    SetDestinationFolder(A().builder, dest.Path() + "/");
    std::string why;
    CopyBuildFiles(A().builder, test::OpenFolder(dest.Path()), A().installation.env, A().window.dialogs);
    EXPECT_EQ(test::ReadFile(dest / "A.dat"), "A");
}

}  // namespace
}  // namespace zrx
