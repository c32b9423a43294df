#include "builder/upgrade_writer.h"

#include <gtest/gtest.h>

#include <set>

#include "base/directory.h"
#include "builder/build_check.h"
#include "builder/builder_lists.h"
#include "builder/builder_state.h"
#include "program/upgrade_pages.h"
#include "support/builder_choice.h"
#include "support/folder.h"
#include "support/run_cli.h"
#include "support/upgrade_fixture.h"
#include "trust/upgrade_check.h"

namespace zrx {
namespace {

using test::ChooseFile;
using test::MakeLibrary;
using test::PartJson;
using test::SymbolJson;

class UpgradeWriterTest : public test::AppTest {
protected:
    void SetUp() override {
        MakeLibrary(m_suite / "LIB/Logic.PART", true, {PartJson("7400"), PartJson("7404")});
        MakeLibrary(m_suite / "LIB/Analog.PART", true, {PartJson("LM741")});
        MakeLibrary(m_suite / "LIB/Logic.SYMBOL", false, {SymbolJson("NAND", 1, {{6, "U?"}})});
        MakeLibrary(m_suite / "LIB/i_x.SYMBOL", false, {SymbolJson("OPAMP", 1, {{6, "U?"}})});
        MakeLibrary(m_suite / "LIB/Std.PACKAGE", false, {SymbolJson("DIP8", 2, {{6, "8"}})});
        MakeLibrary(m_suite / "ZSM_MOD/V.SPARAM", false, {test::ModelJson("J1", "NJF,jfet", "j")});
        MakeLibrary(m_suite / "LIB/M.MPARAM", false, {test::ModelJson("ADC", "ADC,conv", "a")});
        test::WriteFile(m_suite / "LIB/h.TAL", "tal");
        test::WriteFile(m_suite / "JOB/b.DAT", "dat");
        test::WriteFile(m_suite / "SYS/p.SPC", "spc");
        test::WriteFile(m_suite / "ZSM_SBK/OPAMPS/op.sbc", ".SUBCKT OP 1\r\n*Op, Opamp\r\n");
        test::WriteFile(m_suite / "SYS/notes.txt", "n");
        Start(true);
    }
    App& A() { return *m_app; }
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dest.Path())) names.insert(entry.path().filename());
        return names;
    }
    void Choose(int kind, const std::string& library, const std::string& name) {
        test::ChooseElement(A().window.main, kind, library, name);
    }
    void ChooseEverything() {
        ui::MainForm& m = A().window.main;
        Choose(0, "Logic.PART", "7400");
        Choose(0, "Analog.PART", "LM741");
        Choose(1, "i_x.SYMBOL", "OPAMP");
        Choose(1, "Logic.SYMBOL", "NAND");
        Choose(1, "Logic.SYMBOL", "NAND");
        Choose(2, "Std.PACKAGE", "DIP8");
        Choose(3, "V.SPARAM", "J1");
        Choose(4, "M.MPARAM", "ADC");
        ChooseFile(m.F_Thermtal, m.F_Talmove, "h.TAL");
        ChooseFile(m.F_Thermdat, m.F_Datmove, "b.DAT");
        ChooseFile(m.F_Profitem, m.F_SPCmove, "p.SPC");
        m.M_Fileitems(5).Click();
        m.F_sbcdir.SetPath(m_suite / "ZSM_SBK/OPAMPS");
        m.F_sbcdir.onChange();
        ChooseFile(m.F_SBCItem, m.F_Sbcmove, "op.sbc");
        m.F_MiscDir.SetPath(m_suite / "SYS");
        m.F_MiscDir.onChange();
        m.F_Filedesc.SetText("");
        m.F_Syspath.UserSelect(2);
        ChooseFile(m.F_Miscitem, m.F_MiscMove, "notes.txt");
        m.F_Miscitem.SetListIndex(-1);
    }
    void Destination() {
        A().window.main.F_Dir.SetPath(m_dest.Path());
        A().window.main.F_Dir.onChange();
    }
    std::string List() { return test::ReadFile(m_dest / "Upgrade.lst"); }
    // A second program that loads the built list, as a user of the upgrade would.
    std::unique_ptr<App> LoadBuiltList() {
        auto loader = std::make_unique<App>(m_dialogs, m_fonts);
        loader->commandLine = "\"" + m_suite.Dir() + "\"";
        ConnectHandlers(*loader);
        EXPECT_EQ(Form_Load(*loader), StartupOutcome::Ready);
        loader->window.main.F_lstdir.SetPath(m_dest.Path());
        F_lstok_Click(*loader);
        return loader;
    }

    test::TempDir m_dest;
};

constexpr const char* kReadme =
    "7,********************README*****************************************\r\n"
    "7,This program is intended to update user's library files\r\n"
    "7,A list of newly available library elements are shown in the table.\r\n"
    "7,User is supposed to close opened databases as a precaution.\r\n"
    "7,Unselect the particular files not required for updating.\r\n"
    "7,Ensure that Zarnix32 directory and all associated subdirs are set correctly.\r\n"
    "7,Zarnix32 subdirs are not to be renamed according to the user's wish.\r\n"
    "7,Summary listing will be provided after the upgradation.\r\n"
    "7,User must ensure that all Upgrade related components are in a single directory.\r\n"
    "99,END\r\n";

TEST_F(UpgradeWriterTest, TheListHoldsEveryRecordInItsOrder) {
    ChooseEverything();
    Destination();
    A().window.main.F_Create.Click();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Upgrade file(s) created"});
    EXPECT_EQ(List(), std::string("0,Upgrade.PART,A_Upg.SYMBOL,I_Upg.SYMBOL,Upgrade.PACKAGE,Upgrade.SPARAM,Upgrade.MPARAM\r\n"
                                  "1,0,1,7400,Logic.PART\r\n1,0,1,LM741,Analog.PART\r\n"
                                  "2,0,1,OPAMP,i_x.SYMBOL,I_Upg.SYMBOL\r\n2,0,1,NAND,Logic.SYMBOL,A_Upg.SYMBOL\r\n"
                                  "2,0,1,NAND,Logic.SYMBOL,A_Upg.SYMBOL\r\n3,0,1,DIP8,Std.PACKAGE\r\n"
                                  "4,0,3,notes.txt,Misc File\r\n4,0,1,h.TAL\r\n4,0,2,b.DAT\r\n4,0,3,p.SPC\r\n"
                                  "4,0,9,op.sbc,OPAMPS\r\n5,0,5,J1,V.SPARAM\r\n6,0,1,ADC,M.MPARAM\r\n") +
                          kReadme);
    EXPECT_EQ(test::LibraryNames(m_dest / "Upgrade.PART"), (std::vector<std::string>{"7400", "LM741"}));
    EXPECT_EQ(test::LibraryNames(m_dest / "A_Upg.SYMBOL"), std::vector<std::string>{"NAND"});
    EXPECT_EQ(test::LibraryNames(m_dest / "I_Upg.SYMBOL"), std::vector<std::string>{"OPAMP"});
    EXPECT_EQ(test::LibraryNames(m_dest / "Upgrade.PACKAGE"), std::vector<std::string>{"DIP8"});
    EXPECT_EQ(test::LibraryNames(m_dest / "Upgrade.SPARAM"), std::vector<std::string>{"J1"});
    EXPECT_EQ(test::LibraryNames(m_dest / "Upgrade.MPARAM"), std::vector<std::string>{"ADC"});
    for (const char* file : {"h.TAL", "b.DAT", "p.SPC", "op.sbc", "notes.txt"})
        EXPECT_TRUE(std::filesystem::exists(m_dest / file)) << file;
    // The selection stays for a further build.
    EXPECT_EQ(A().window.main.F_Devlist.ListCount(), 2);
}

TEST_F(UpgradeWriterTest, ListOnlyWritesElevenLinesWhenNothingIsChosen) {
    Destination();
    A().window.main.F_Clstfile(0).Click();
    A().window.main.F_Create.Click();
    EXPECT_EQ(List(), std::string(kHeaderLine) + "\r\n" + kReadme);
    // Only the list: no manifest speaks for a folder that is not the whole upgrade yet.
    EXPECT_EQ(Entries(), (std::set<std::string>{"Upgrade.lst"}));
}

TEST_F(UpgradeWriterTest, ListOnlyOpensNoLibraryAndCopiesNoFile) {
    ChooseEverything();
    Destination();
    A().window.main.F_Clstfile(0).Click();
    A().window.main.F_Create.Click();
    EXPECT_EQ(Entries(), (std::set<std::string>{"Upgrade.lst"}));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Upgrade file(s) created"});
}

// A zip file typed in the window with another ending is not written under that name.
TEST_F(UpgradeWriterTest, OnlyAZipNameGetsTheZip) {
    Destination();
    A().window.main.P_ArchiveFile.SetText(m_dest / "upgrade.tar.gz");
    A().window.main.P_ArchiveFile.onChange();
    A().window.main.F_Create.Click();
    EXPECT_FALSE(std::filesystem::exists(m_dest / "upgrade.tar.gz"));
    ASSERT_EQ(A().builder.lastBuild.sealFailures.size(), 1u);
    EXPECT_NE(A().builder.lastBuild.sealFailures[0].find("does not end in .zip"), std::string::npos);
}

TEST_F(UpgradeWriterTest, WithoutADestinationNothingIsWritten) {
    ChooseEverything();
    A().window.main.F_Create.Click();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Select destination folder to place Upgrade files"});
}

TEST_F(UpgradeWriterTest, BuildingTwiceWritesIntoTheExistingLibrariesAndAsksWhenTold) {
    Choose(1, "Logic.SYMBOL", "NAND");
    Destination();
    A().window.main.F_Create.Click();
    A().run.AskOverwrite = true;
    m_dialogs.QueueAnswer(ui::Answer::No);
    A().window.main.F_Create.Click();
    ASSERT_EQ(BoxTexts().size(), 3u);
    EXPECT_EQ(BoxTexts()[1], "Symbol(s) with same names are already stored in lib: " + (m_dest / "A_Upg.SYMBOL") +
                                 ".\r\vOverwrite anyway ?");
    EXPECT_EQ(test::LibraryNames(m_dest / "A_Upg.SYMBOL"), std::vector<std::string>{"NAND"});
}

TEST_F(UpgradeWriterTest, ADescriptionWithACommaReadsBackWhole) {
    ui::MainForm& m = A().window.main;
    m.F_MiscDir.SetPath(m_suite / "SYS");
    m.F_MiscDir.onChange();
    m.F_Filedesc.SetText("Notes, \"final\"\r\nedition");  // a pasted line break stays in its record
    ChooseFile(m.F_Miscitem, m.F_MiscMove, "notes.txt");
    Destination();
    m.F_Clstfile(0).Click();
    m.F_Create.Click();
    EXPECT_NE(List().find("4,0,1,notes.txt,\"Notes, 'final'  edition\"\r\n"), std::string::npos) << List();
    // The loader shows it whole.
    auto loader = LoadBuiltList();
    EXPECT_EQ(loader->window.main.F_Preferen.TextMatrix(1, 4), "Notes, 'final'  edition");
}

TEST_F(UpgradeWriterTest, AListThatCannotBeWrittenIsReportedNotCreated) {
    Destination();
    std::filesystem::create_directory(m_dest / "Upgrade.lst");  // a folder where the list should go
    A().window.main.F_Create.Click();
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_NE(BoxTexts()[0].find("could not be written"), std::string::npos);
}

TEST_F(UpgradeWriterTest, ALooseFileThatCouldNotBeCopiedMakesTheUpgradeIncomplete) {
    ui::MainForm& m = A().window.main;
    ChooseFile(m.F_Thermtal, m.F_Talmove, "h.TAL");
    ChooseFile(m.F_Thermdat, m.F_Datmove, "b.DAT");
    ChooseFile(m.F_Profitem, m.F_SPCmove, "p.SPC");
    Destination();
    std::filesystem::create_directory(m_dest / "h.TAL");  // a folder in the way
    test::WriteFile(m_dest / "b.DAT", "newer");          // a newer file of that name
    std::filesystem::last_write_time(m_dest / "b.DAT",
                                     std::filesystem::last_write_time(m_suite / "JOB/b.DAT") + std::chrono::hours(1));
    m.F_Create.Click();
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{
                  "Cannot copy file   h.TAL: a folder of that name is in the way (" + m_dest.Path() + ")",
                  "Cannot copy file   b.DAT: a newer file of that name is already there (" + m_dest.Path() + ")",
                  "Upgrade file(s) created, but the upgrade is incomplete; read back, it differs from what was "
                  "chosen:\r\n\"h.TAL\" (file) is not in the upgrade folder, or cannot be read there\r\n\"b.DAT\" "
                  "(file) in the upgrade folder is not the file of " + (m_suite / "JOB")}));
    EXPECT_TRUE(A().builder.lastBuild.listWritten);
    EXPECT_EQ(A().builder.lastBuild.differences.size(), 2u);
    EXPECT_EQ(test::ReadFile(m_dest / "b.DAT"), "newer");
    EXPECT_EQ(test::ReadFile(m_dest / "p.SPC"), "spc");
}

TEST_F(UpgradeWriterTest, NamesAndDescriptionsReadBackAsWrittenOrAreRefused) {
    MakeLibrary(m_suite / "LIB/Odd.PART", true,
                {PartJson("7400,A"), PartJson("\\\"Q\\\""), PartJson("say \\\"hi\\\""), PartJson("x,\\\"y\\\"")});
    test::WriteFile(m_suite / "SYS/a,b.txt", "1");
    test::WriteFile(m_suite / "SYS/\"c.txt", "2");
    ui::MainForm& m = A().window.main;
    for (const char* name : {"7400,A", "\"Q\"", "say \"hi\"", "x,\"y\""}) Choose(0, "Odd.PART", name);
    m.F_MiscDir.SetPath(m_suite / "SYS");
    m.F_MiscDir.onChange();
    m.F_Filedesc.SetText("He said \"hi\"");
    ChooseFile(m.F_Miscitem, m.F_MiscMove, "a,b.txt");
    m.F_Miscitem.SetListIndex(-1);
    m.F_Filedesc.SetText("\"Quoted\" notes");
    ChooseFile(m.F_Miscitem, m.F_MiscMove, "\"c.txt");
    // A name that needs quotes and holds a double quote has no faithful form: it cannot be chosen.
    ASSERT_EQ(BoxTexts().size(), 3u);
    for (const char* refused : {"\"\"Q\"\"", "\"x,\"y\"\"", "\"\"c.txt\""})
        EXPECT_NE(std::find(BoxTexts().begin(), BoxTexts().end(),
                            std::string(refused) +
                                " cannot be chosen: the upgrade list cannot name it as it is (a double quote in a name "
                                "that needs quotes for its comma or its first double quote)."),
                  BoxTexts().end())
            << refused;
    Destination();
    m.F_Clstfile(0).Click();
    m.F_Create.Click();
    EXPECT_EQ(BoxTexts().back(), "Upgrade file(s) created");
    EXPECT_NE(List().find("1,0,1,\"7400,A\",Odd.PART\r\n1,0,1,say \"hi\",Odd.PART\r\n"), std::string::npos) << List();
    EXPECT_NE(List().find("4,0,1,\"a,b.txt\",He said \"hi\"\r\n"), std::string::npos) << List();
    // What is written reads back as itself.
    auto loader = LoadBuiltList();
    const ui::Grid& grid = loader->window.main.F_Preferen;
    ASSERT_EQ(grid.Rows(), 4);
    EXPECT_EQ(grid.TextMatrix(1, 0), "7400,A");
    EXPECT_EQ(grid.TextMatrix(2, 0), "say \"hi\"");
    EXPECT_EQ(grid.TextMatrix(3, 0), "a,b.txt");
    EXPECT_EQ(grid.TextMatrix(3, 4), "He said \"hi\"");
}

TEST_F(UpgradeWriterTest, ABlankThatWouldBeLostIsRefusedAndTheSymbolLibraryFollowsItsSource) {
    test::WriteFile(m_suite / "ZSM_SBK/SUB /x.sbc", ".SUBCKT X 1\r\n*X, x\r\n");
    MakeLibrary(m_suite / "LIB/IC.SYMBOL", false, {SymbolJson("GATE", 1, {{6, "U?"}})});
    MakeLibrary(m_suite / "LIB/I_C.SYMBOL", false, {SymbolJson("AMP", 1, {{6, "U?"}})});
    ui::MainForm& m = A().window.main;
    m.M_Fileitems(5).Click();
    m.F_sbcdir.SetPath(m_suite / "ZSM_SBK/SUB ");
    m.F_sbcdir.onChange();
    // A subdirectory with a blank at its end would lose it in the list: it cannot be chosen.
    ChooseFile(m.F_SBCItem, m.F_Sbcmove, "x.sbc");
    EXPECT_EQ(BoxTexts().back(), "\"SUB \" cannot be chosen: the upgrade list cannot name it as it is (blanks around it).");
    EXPECT_EQ(m.F_SBCList.ListCount(), 0);
    Choose(1, "IC.SYMBOL", "GATE");
    Choose(1, "I_C.SYMBOL", "AMP");
    Destination();
    m.F_Clstfile(0).Click();
    m.F_Create.Click();
    EXPECT_NE(List().find("\r\n2,0,1,GATE,IC.SYMBOL,A_Upg.SYMBOL\r\n2,0,1,AMP,I_C.SYMBOL,I_Upg.SYMBOL\r\n"),
              std::string::npos)
        << List();
}

TEST_F(UpgradeWriterTest, FileListsMatchTheirPatternsWhateverTheLetterCase) {
    MakeLibrary(m_suite / "LIB/Mixed.Part", true, {PartJson("X")});
    test::WriteFile(m_suite / "LIB/cool.Tal", "t");
    ui::MainForm& m = A().window.main;
    m.F_EDLlist.Refresh();
    m.F_Thermtal.Refresh();
    EXPECT_NE(std::find(m.F_EDLlist.Items().begin(), m.F_EDLlist.Items().end(), "Mixed.Part"), m.F_EDLlist.Items().end());
    EXPECT_NE(std::find(m.F_Thermtal.Items().begin(), m.F_Thermtal.Items().end(), "cool.Tal"), m.F_Thermtal.Items().end());
}

class ReloadTest : public UpgradeWriterTest {
protected:
    void Reload(const std::string& text) {
        test::WriteFile(m_dest / "Upgrade.lst", text);
        ui::MainForm& m = A().window.main;
        m.M_Upgload.Click();
        m.F_lstdir.SetPath(m_dest.Path());
        m.F_lstok.Click();
    }
};

TEST_F(ReloadTest, EveryKindComesBackIntoItsTableAndList) {
    Reload(std::string(kHeaderLine) +
           "\r\n1,0,1,7400,Logic.PART\r\n1,0,1,7404,Logic.PART\r\n1,0,1,LM741,Analog.PART\r\n"
           "2,0,1, NAND ,Logic.SYMBOL,A_Upg.SYMBOL\r\n3,0,1,DIP8,Std.PACKAGE\r\n5,0,5,J1,V.SPARAM\r\n"
           "6,0,1,ADC,M.MPARAM\r\n4,0,1,h.TAL\r\n4,0,2,b.DAT\r\n4,0,3,p.SPC\r\n4,0,9,op.sbc,OPAMPS\r\n"
           "4,0,1,notes.txt,Misc File\r\n4,0,3,calib.DAT,\"Calibration, v2\"\r\n4,0,6,x.SBC,Models\r\n"
           "4,0,1,driver.dll\r\n4,0,5,lone.DAT\r\n7,readme\r\n99,END\r\n1,0,1,AFTER,Logic.PART\r\n");
    const ui::MainForm& m = A().window.main;
    const BuilderTables& t = A().builder.tables;
    EXPECT_EQ(m.F_Devlist.Items(), (std::vector<std::string>{"7400", "7404", "LM741"}));
    ASSERT_EQ(t.PartSources.size(), 3u);
    EXPECT_EQ(t.PartSources[0].RefCount, 2);
    EXPECT_EQ(t.PartSources[1].RefCount, 1);
    EXPECT_EQ(t.PartSources[0].Dir, m_suite / "LIB");
    // A symbol with blanks around its name would be built under another name: it is not taken back.
    EXPECT_TRUE(m.F_Slist.Items().empty());
    EXPECT_EQ(t.SparamSources[0].Dir, m_suite / "ZSM_MOD");
    EXPECT_EQ(m.F_Mpldlist.Items(), std::vector<std::string>{"ADC"});
    EXPECT_EQ(m.F_Tallist.Items(), std::vector<std::string>{"h.TAL"});
    EXPECT_EQ(m.F_Datlist.Items(), std::vector<std::string>{"b.DAT"});
    EXPECT_EQ(m.F_ProfList.Items(), std::vector<std::string>{"p.SPC"});
    EXPECT_EQ(t.UpgSbcFiles[0].SourceDir, m_suite / "ZSM_SBK/OPAMPS");
    EXPECT_EQ(t.UpgSbcFiles[0].KindCode, 9);
    // Files with a target and a description come back as such, from the folder reloaded, whatever
    // their ending; what cannot come back as it stands is named.
    EXPECT_EQ(m.F_Mlist.Items(), (std::vector<std::string>{"\\Lib\\notes.txt, Misc File",
                                                           "\\Sys\\calib.DAT, Calibration, v2", "\\ZSm_sbk\\x.SBC, Models"}));
    ASSERT_EQ(t.UpgMiscFiles.size(), 4u);
    EXPECT_EQ(t.UpgMiscFiles[1].TargetCode, 3);
    EXPECT_EQ(t.UpgMiscFiles[1].Description, "Calibration, v2");
    EXPECT_EQ(t.UpgMiscFiles[1].SourceDir, m_dest.Path());
    EXPECT_EQ(m.F_Datlist.Items(), std::vector<std::string>{"b.DAT"});
    ASSERT_EQ(m_dialogs.Boxes().size(), 2u);  // the confirmation, and the records left behind
    EXPECT_EQ(
        BoxTexts()[1],
        "These records of " + (m_dest / "Upgrade.lst") +
            " are not brought back into the builder:\r\nline 5: \" NAND \" (blanks around the name of "
            "an element its upgrade library keeps without them)\r\nline 16: \"driver.dll\" (its ending, "
            "target 1 and fields match no file kind of the builder)\r\nline 17: \"lone.DAT\" (its "
            "ending, target 5 and fields match no file kind of the builder)");
}

TEST_F(ReloadTest, NoToTheConfirmationKeepsTheChoices) {
    Choose(0, "Logic.PART", "7400");
    m_dialogs.QueueAnswer(ui::Answer::No);
    Reload(std::string(kHeaderLine) + "\r\n1,0,1,LM741,Analog.PART\r\n");
    EXPECT_EQ(A().window.main.F_Devlist.Items(), std::vector<std::string>{"7400"});
}

TEST_F(ReloadTest, FailuresNameTheListAndClearItsPath) {
    Reload("0,Other.PART\r\n");
    EXPECT_EQ(BoxTexts().back(), "Wrong Format : " + (m_dest / "Upgrade.lst"));
    EXPECT_EQ(A().upgrade.ListPath, "");
    // An unsafe name says why, as the load page does; a description is no name.
    Reload(std::string(kHeaderLine) + "\r\n4,0,1,notes.txt,a/b \\ c\r\n4,0,2,../x.DAT\r\n");
    EXPECT_EQ(BoxTexts().back(),
              "Unsafe name in the upgrade list " + (m_dest / "Upgrade.lst") + ", line 3: \"../x.DAT\" (a path separator)");
    EXPECT_EQ(A().window.main.F_Mlist.Items(), std::vector<std::string>{"\\Lib\\notes.txt, a/b \\ c"});
    Reload(std::string(kHeaderLine) + "\r\n1,0,1,7400,Logic.PART\r\n\r\n1,0,1,7404,Logic.PART\r\n");
    EXPECT_EQ(BoxTexts().back(), "File not found:   " + (m_dest / "Upgrade.lst"));
    EXPECT_EQ(A().window.main.F_Devlist.Items(), std::vector<std::string>{"7400"});  // what came before stays
    std::filesystem::remove(m_dest / "Upgrade.lst");
    A().window.main.F_lstok.Click();
    EXPECT_EQ(BoxTexts().back(), "File not found:   " + (m_dest / "Upgrade.lst"));
}

// What the builder reloaded from a checked copy stays readable whatever comes after: a reload
// answered No or refused touches nothing the builder holds, and a build from it is whole.
TEST_F(ReloadTest, AReloadNotMadeTouchesNothingTheBuilderHolds) {
    test::TempDir source, other;
    test::WriteFile(source / "notes.txt", "notes");
    test::WriteFile(source / "Upgrade.lst", std::string(kHeaderLine) + "\r\n4,0,3,notes.txt,Notes\r\n" +
                                                std::string(kEndLine) + "\r\n");
    std::string why;
    ASSERT_TRUE(test::Done(trust::WriteManifest(test::OpenFolder(source.Path()), source.Path())));
    ui::MainForm& m = A().window.main;
    m.M_Upgload.Click();
    m.F_lstdir.SetPath(source.Path());
    m.F_lstok.Click();
    ASSERT_EQ(A().builder.tables.UpgMiscFiles.size(), 2u);
    const std::string from = A().builder.tables.UpgMiscFiles[0].SourceDir;
    EXPECT_NE(from, source.Path());  // the checked copy
    // Another upgrade, answered No; then a tampered one.
    test::WriteFile(other / "Upgrade.lst",
                    std::string(kHeaderLine) + "\r\n" + std::string(kEndLine) + "\r\n");
    m_dialogs.QueueAnswer(ui::Answer::No);
    m.F_lstdir.SetPath(other.Path());
    m.F_lstok.Click();
    test::WriteFile(other / "Upgrade.sha256", std::string(64, '0') + "  Upgrade.lst\n");
    m.F_lstok.Click();
    EXPECT_TRUE(std::filesystem::exists(from + "/notes.txt"));
    EXPECT_EQ(m.F_Mlist.Items(), std::vector<std::string>{"\\Sys\\notes.txt, Notes"});
    Destination();
    m.F_Create.Click();
    EXPECT_TRUE(A().builder.lastBuild.differences.empty()) << A().builder.lastBuild.differences.front();
    EXPECT_EQ(test::ReadFile(m_dest / "notes.txt"), "notes");
    // A subcircuit's folder that is no plain name does not come back.
    std::filesystem::remove(m_dest / "Upgrade.sha256");
    Reload(std::string(kHeaderLine) + "\r\n4,0,9,x.sbc,../up\r\n");
    EXPECT_NE(BoxTexts().back().find("Unsafe name"), std::string::npos) << BoxTexts().back();
}

// Symbols, packages and models with blanks around their names cannot be chosen: their libraries
// would keep them without.
TEST_F(UpgradeWriterTest, ASymbolWithBlanksAroundItsNameIsRefused) {
    MakeLibrary(m_suite / "LIB/Pad.SYMBOL", false, {SymbolJson(" PAD ", 1, {{6, "U?"}})});
    Choose(1, "Pad.SYMBOL", " PAD ");
    EXPECT_TRUE(A().window.main.F_Slist.Items().empty());
    EXPECT_NE(BoxTexts().back().find("without the blanks around it"), std::string::npos) << BoxTexts().back();
}

// The read-back names what a build left as it was: an element kept in the upgrade library when the
// user answered No though its source changed since, and a record of the list nobody chose.
TEST_F(UpgradeWriterTest, TheReadBackNamesAnElementNotAsChosenAndARecordNobodyChose) {
    Choose(1, "Logic.SYMBOL", "NAND");
    Destination();
    A().window.main.F_Create.Click();
    ASSERT_TRUE(A().builder.lastBuild.differences.empty());
    std::filesystem::remove(m_suite / "LIB/Logic.SYMBOL");
    MakeLibrary(m_suite / "LIB/Logic.SYMBOL", false, {SymbolJson("NAND", 1, {{6, "changed"}})});
    A().run.AskOverwrite = true;
    m_dialogs.QueueAnswer(ui::Answer::No);
    A().window.main.F_Create.Click();
    ASSERT_EQ(A().builder.lastBuild.differences.size(), 1u);
    EXPECT_NE(A().builder.lastBuild.differences[0].find("\"NAND\" (symbol) in "), std::string::npos)
        << A().builder.lastBuild.differences[0];
    test::WriteFile(m_dest / "Upgrade.lst", List() + "1,0,1,EXTRA,Logic.PART\r\n");
    std::string why;
    const auto differences = CheckBuiltUpgrade(A().builder.tables, A().installation.env,
                                               test::OpenFolder(m_dest.Path()), m_dest.Path(), true);
    ASSERT_FALSE(differences.empty());
    EXPECT_NE(differences.back().find("\"EXTRA\" (part), which was not chosen"), std::string::npos)
        << differences.back();
}

// The list reaches the disk before it takes the old one's place: a crash between the two never
// leaves an empty list under the list's name.
TEST(UpgradeListWriteTest, TheListIsFlushedBeforeItIsRenamedIntoPlace) {
    if (std::system("command -v strace >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
    test::TempDir dir;
    ASSERT_EQ(test::RunCli({"demo", dir.Path()}).status, 0);
    const std::string trace = dir / "trace";
    const std::string command =
        "strace -f -e trace=openat,fsync,fdatasync,renameat,renameat2,rename -o " + test::Quote(trace) + " " +
        test::Quote(test::BinDir() + "/zrxlibug-cli") + " build --suite " + test::Quote(dir / "suite") +
        " --dest " + test::Quote(dir / "out") + " --list-only --part Logic.PART:7400 >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    // The temporary file's descriptor, its flush, then its rename over Upgrade.lst.
    const std::string log = test::ReadFile(trace);
    const size_t opened = log.find(".Upgrade.lst.zrxtmp-");
    ASSERT_NE(opened, std::string::npos) << log;
    const size_t equals = log.find("= ", opened);
    const std::string fd = log.substr(equals + 2, log.find('\n', equals) - equals - 2);
    const size_t flushed = log.find("fsync(" + fd + ")", opened);
    const size_t renamed = log.find("Upgrade.lst\"", log.find("rename", opened));
    ASSERT_NE(flushed, std::string::npos) << log;
    ASSERT_NE(renamed, std::string::npos) << log;
    EXPECT_LT(flushed, renamed);
}

}  // namespace
}  // namespace zrx
