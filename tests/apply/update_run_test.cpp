#include "apply/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/upgrade_fixture.h"

namespace zrx {
namespace {

using test::LibraryNames;
using test::MakeLibrary;
using test::PartJson;
using test::SymbolJson;

// An element of a library as JSON, or the reason it cannot be read.
std::string Text1(const std::string& library, const std::string& name) {
    const auto json = ExportElement(library, name);
    return json ? *json : json.Why();
}

class UpdateRunTest : public test::UpgradeTest {
protected:
    void SetUp() override {
        MakeLibrary(m_suite / "LIB/Logic.PART", true, {PartJson("7400", "OLD")});
        MakeLibrary(m_upgrade / "Upgrade.PART", true, {PartJson("7400", "NEW"), PartJson("7404", "NEW")});
        MakeLibrary(m_upgrade / "A_Upg.SYMBOL", false, {SymbolJson("NAND", 1, {{6, "from A"}})});
        MakeLibrary(m_upgrade / "I_Upg.SYMBOL", false,
                    {SymbolJson("NAND", 1, {{6, "from I"}}), SymbolJson("OPAMP", 1, {{6, "from I"}})});
        MakeLibrary(m_upgrade / "Upgrade.PACKAGE", false, {SymbolJson("DIP8", 2, {{6, "8 pins"}})});
        MakeLibrary(m_upgrade / "Upgrade.MPARAM", false, {test::ModelJson("ADC", "ADC,converter", "12 bit")});
        MakeLibrary(m_upgrade / "Upgrade.SPARAM", false,
                    {test::ModelJson("Q1", "NPN,bipolar", "general purpose"), SymbolJson("NOTEXT", 3, {{2, ""}})});
        WriteList({"1,0,1,7400,Logic.PART", "1,0,1,7404,Logic.PART", "2,0,1,NAND,Logic.SYMBOL,A_Upg.SYMBOL",
                   "2,0,1,OPAMP,I_An.SYMBOL,i_upg.symbol", "3,0,1,DIP8,Std.PACKAGE", "6,0,1,ADC,Mixed.MPARAM",
                   "5,0,5,Q1,Bip.SML", "5,0,5,NOTEXT,Bip.SML"});
    }
};

TEST_F(UpdateRunTest, DefaultOptionsCopyEverythingAndOverwriteSilently) {
    App& app = Open();
    Update(app);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Are you sure you want to update the library files"});
    EXPECT_EQ(StatusOf("7400"), "Copied");
    EXPECT_EQ(StatusOf("7404"), "Copied");
    EXPECT_EQ(StatusOf("NAND"), "Copied");
    EXPECT_EQ(StatusOf("OPAMP"), "Copied");
    EXPECT_EQ(StatusOf("DIP8"), "Copied");
    EXPECT_EQ(StatusOf("ADC"), "Copied");
    EXPECT_EQ(StatusOf("Q1"), "Copied");
    EXPECT_EQ(LibraryNames(m_suite / "LIB/Logic.PART"), (std::vector<std::string>{"7400", "7404"}));
    EXPECT_NE(Text1(m_suite / "LIB/Logic.PART", "7400").find("\"NEW\""), std::string::npos);
    EXPECT_NE(Text1(m_suite / "LIB/Logic.SYMBOL", "NAND").find("from A"), std::string::npos);
    EXPECT_NE(Text1(m_suite / "LIB/I_An.SYMBOL", "OPAMP").find("from I"), std::string::npos);
    EXPECT_EQ(LibraryNames(m_suite / "LIB/Std.PACKAGE"), std::vector<std::string>{"DIP8"});
    EXPECT_EQ(LibraryNames(m_suite / "LIB/Mixed.MPARAM"), std::vector<std::string>{"ADC"});
    EXPECT_EQ(LibraryNames(m_suite / "ZSM_MOD/Bip.SML"), (std::vector<std::string>{"NOTEXT", "Q1"}));
    EXPECT_EQ(app.window.main.F_Status.Caption(), "Done");
    EXPECT_TRUE(app.window.main.F_Update.Enabled());
    EXPECT_TRUE(app.window.main.F_Exit(0).Enabled());
    EXPECT_FALSE(app.ended);
    // The window was told how far the run had come: element i of the 8 selected, then the end.
    std::vector<std::pair<size_t, size_t>> progress;
    bool ended = false;
    for (const auto& shown : m_dialogs.Progress()) {
        if (shown.text == "Comparing the upgrade with the installation") continue;  // the grid's preview
        if (shown.total == 0) ended = true;
        else progress.emplace_back(shown.done, shown.total);
    }
    ASSERT_EQ(progress.size(), 8u);
    EXPECT_EQ(progress.front(), (std::pair<size_t, size_t>{1, 8}));
    EXPECT_EQ(progress.back(), (std::pair<size_t, size_t>{8, 8}));
    EXPECT_TRUE(ended);
}

TEST_F(UpdateRunTest, ModelTextsComeFromTheSavedModel) {
    test::WriteFile(m_suite / "ZSM_MOD/modpar.idx", "");  // an index is added to, never made
    App& app = Open();
    Update(app);
    const ElementItem& q1 = app.upgrade.lists.SpiceModelItems[0];
    EXPECT_EQ(q1.Texts().ModelText1, "NPN");
    EXPECT_EQ(q1.Texts().ModelText2, "bipolar");
    EXPECT_EQ(q1.Texts().ModelText3, "general purpose");
    // A model without a text item is saved but counts as not copied, and gets no index line.
    EXPECT_EQ(StatusOf("NOTEXT"), "Not copied");
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_MOD/modpar.idx"), "NPN||BIP|Q1|general purpose\r\n");
}

TEST_F(UpdateRunTest, AskingAsksOnlyForPresentElementsAndNoLeavesThemWithoutAMessage) {
    App& app = Open();
    app.window.main.F_OverPrompt(0).Click();
    m_dialogs.QueueAnswer(ui::Answer::Yes);  // the confirmation
    m_dialogs.QueueAnswer(ui::Answer::No);   // 7400 is present
    Update(app);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                              "Are you sure you want to update the library files",
                              "Part with same name (7400) are already stored in lib: " + (m_suite / "LIB/Logic.PART") +
                                  ".\r\nOverwrite anyway ?"}));
    EXPECT_EQ(StatusOf("7400"), "Not Copied");
    EXPECT_EQ(StatusOf("7404"), "Copied");
    EXPECT_NE(Text1(m_suite / "LIB/Logic.PART", "7400").find("\"OLD\""), std::string::npos);
}

TEST_F(UpdateRunTest, AskingAsksForSymbolsAndPackagesInTheirOwnLibraries) {
    MakeLibrary(m_suite / "LIB/Logic.SYMBOL", false, {SymbolJson("NAND", 1, {{6, "old"}})});
    MakeLibrary(m_suite / "LIB/Std.PACKAGE", false, {SymbolJson("DIP8", 2, {{6, "old"}})});
    App& app = Open();
    app.window.main.F_OverPrompt(0).Click();
    m_dialogs.SetDefaultYesNo(ui::Answer::No);
    m_dialogs.QueueAnswer(ui::Answer::Yes);  // the confirmation; every question after it: No
    Update(app);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                              "Are you sure you want to update the library files",
                              "Part with same name (7400) are already stored in lib: " + (m_suite / "LIB/Logic.PART") +
                                  ".\r\nOverwrite anyway ?",
                              "Symbol with same name (NAND) are already stored in lib: " +
                                  (m_suite / "LIB/Logic.SYMBOL") + ".\r\nOverwrite anyway ?",
                              "Package with same name (DIP8) are already stored in lib: " +
                                  (m_suite / "LIB/Std.PACKAGE") + ".\r\nOverwrite anyway ?"}));
    EXPECT_EQ(StatusOf("NAND"), "Not copied");
    EXPECT_EQ(StatusOf("OPAMP"), "Copied");
    EXPECT_NE(Text1(m_suite / "LIB/Logic.SYMBOL", "NAND").find("old"), std::string::npos);
    EXPECT_NE(Text1(m_suite / "LIB/Std.PACKAGE", "DIP8").find("old"), std::string::npos);
}

TEST_F(UpdateRunTest, AnElementMissingFromItsUpgradeLibraryIsReportedAndNotCopied) {
    WriteList({"1,0,1,GHOST,Logic.PART", "2,0,1,GHOSTSYM,L.SYMBOL,A_Upg.SYMBOL", "6,0,1,GHOSTMOD,M.MPARAM"});
    App& app = Open();
    Update(app);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Are you sure you want to update the library files",
                                                    "Cannot load part   GHOST", "Cannot load symbol   GHOSTSYM",
                                                    "Cannot load symbol   GHOSTMOD"}));
    EXPECT_EQ(StatusOf("GHOST"), "Not Copied");
    EXPECT_EQ(StatusOf("GHOSTSYM"), "Not copied");
    EXPECT_EQ(StatusOf("GHOSTMOD"), "Not copied");
}

TEST_F(UpdateRunTest, AnUnavailableLibraryDirectoryWarnsOnceAndSkipsTheElementTransfers) {
    std::filesystem::remove_all(m_suite / "LIB");
    test::WriteFile(m_upgrade / "x.dat", "data");
    WriteList({"1,0,1,7400,Logic.PART", "6,0,1,ADC,Mixed.MPARAM", "5,0,5,Q1,Bip.SML", "4,0,2,x.dat"});
    App& app = Open();
    Update(app);
    ASSERT_EQ(BoxTexts().size(), 2u);
    EXPECT_EQ(BoxTexts()[1], "Path: " + (m_suite / "LIB") + " not available");
    EXPECT_EQ(StatusOf("7400"), "Not Copied");
    EXPECT_EQ(StatusOf("ADC"), "Not copied");
    EXPECT_EQ(StatusOf("Q1"), "Copied");
    EXPECT_EQ(StatusOf("x.dat"), "Copied");
    EXPECT_TRUE(std::filesystem::exists(m_suite / "JOB/x.dat"));
}

TEST_F(UpdateRunTest, NoToTheConfirmationChangesNothing) {
    App& app = Open();
    m_dialogs.QueueAnswer(ui::Answer::No);
    const std::string before = test::Fingerprint(m_suite / "LIB/Logic.PART");
    Update(app);
    EXPECT_TRUE(m_summaryRows.empty());
    EXPECT_EQ(test::Fingerprint(m_suite / "LIB/Logic.PART"), before);
    EXPECT_TRUE(app.window.main.F_Update.Enabled());
    EXPECT_FALSE(std::filesystem::exists(m_suite / ".zrxlibug.lock"));  // asked before the lock was taken
}

TEST_F(UpdateRunTest, RowsLeftAtNoAreNotCopiedButStillCounted) {
    App& app = Open();
    app.window.main.F_Cancel.Click();
    app.window.main.F_Preferen.UserSelect(1, 3, 8, 3);  // every row to NO
    app.window.main.F_Proceed.Click();
    Update(app);
    ASSERT_EQ(m_summaryRows.size(), 9u);  // the header and one empty row per element
    for (size_t r = 1; r < m_summaryRows.size(); ++r) EXPECT_EQ(m_summaryRows[r], std::vector<std::string>(5));
    EXPECT_EQ(LibraryNames(m_suite / "LIB/Logic.PART"), std::vector<std::string>{"7400"});
}

TEST_F(UpdateRunTest, ASecondRunStartsFromFreshFlagsAndFinishEndsTheProgram) {
    App& app = Open();
    Update(app);
    EXPECT_EQ(StatusOf("7404"), "Copied");
    app.window.main.F_Cancel.Click();
    app.window.main.F_Preferen.UserSelect(2, 3, 2, 3);  // 7404 to NO
    app.window.main.F_Proceed.Click();
    Update(app, true);
    EXPECT_EQ(StatusOf("7404"), "<no row>");
    EXPECT_EQ(app.upgrade.lists.PartItems[1].Copied, 0);
    EXPECT_EQ(StatusOf("7400"), "Copied");
    EXPECT_TRUE(app.ended);
}

TEST_F(UpdateRunTest, TheSummaryShowsItsColumnsAndSavesTheFirstFourTabSeparated) {
    WriteList({"1,0,1,7404,Logic.PART", "1,0,1,GHOST,Logic.PART", "4,1,1,held.TAL", "4,0,9,op.sbc,OPAMP"});
    test::WriteFile(m_upgrade / "op.sbc", ".SUBCKT OP 1 2 3\r\n*Op amp, Opamp\r\n");
    test::WriteFile(m_upgrade / "held.TAL", "x");
    App& app = Open();
    m_dialogs.QueueSaveFileName(m_upgrade / "summary.txt");
    m_dialogs.QueueSaveFileName(std::string("  Upginfo "));
    m_dialogs.QueueSaveFileName(std::nullopt);
    m_whileSummary = [](ui::Form& form) {
        for (int i = 0; i < 3; ++i) static_cast<ui::Button*>(form.Find("F_Save"))->Click();
    };
    Update(app);
    const std::string lib = m_suite / "LIB";
    EXPECT_EQ(m_summaryRows[0], (std::vector<std::string>{"Library Elements", "Library", "Target Dir", "Status", "Filetype"}));
    EXPECT_EQ(m_summaryRows[1], (std::vector<std::string>{"7404", "Logic.PART", lib, "Copied", "Part file"}));
    EXPECT_EQ(m_summaryRows[2], (std::vector<std::string>{"GHOST", "Logic.PART", lib, "Not Copied", "Part file"}));
    EXPECT_EQ(m_summaryRows[3], (std::vector<std::string>{"op.sbc", "OPAMP", m_suite / "ZSM_SBK", "Copied",
                                                          "Spice subcircuit file"}));
    ASSERT_EQ(m_summaryRows.size(), 4u);  // the withheld file was never offered, so it is not counted
    EXPECT_EQ(test::ReadFile(m_upgrade / "summary.txt"),
              "7404\tLogic.PART\t" + lib + "\tCopied\r\nGHOST\tLogic.PART\t" + lib + "\tNot Copied\r\nop.sbc\tOPAMP\t" +
                  (m_suite / "ZSM_SBK") + "\tCopied\r\n");
    ASSERT_EQ(m_dialogs.SaveRequests().size(), 3u);
    EXPECT_EQ(m_dialogs.SaveRequests()[0].fileName, "Upginfo");
    EXPECT_EQ(m_dialogs.SaveRequests()[0].filter, "Text Files (*.TXT)|*.TXT");
    EXPECT_EQ(m_dialogs.SaveRequests()[0].defaultExtension, "TXT");
    EXPECT_FALSE(std::filesystem::exists("  Upginfo "));
}

TEST_F(UpdateRunTest, ASummaryThatCannotBeSavedSaysSo) {
    App& app = Open();
    m_dialogs.QueueSaveFileName(m_upgrade / "no/such/dir/s.txt");
    m_whileSummary = [](ui::Form& form) { static_cast<ui::Button*>(form.Find("F_Save"))->Click(); };
    Update(app);
    EXPECT_NE(BoxTexts().back().find("The summary could not be saved to"), std::string::npos);
}

// Targets named in another letter case than the installation's are the installation's: no second
// library, file or subdirectory appears beside them.
// A save lost on its way to the disk is matched by its library and name: the symbol of the same
// name in another library stays copied.
TEST_F(UpdateRunTest, ALostSaveUnmarksOnlyItsOwnElement) {
    MakeLibrary(m_upgrade / "A_Upg.SYMBOL", false, {SymbolJson("7400", 1, {{6, "a symbol"}})});
    WriteList({"1,0,1,7400,Logic.PART", "2,0,1,7400,Logic.SYMBOL,A_Upg.SYMBOL"});
    App& app = Open();
    Update(app);
    ASSERT_EQ(app.upgrade.lists.PartItems[0].Copied, 1);
    ASSERT_EQ(app.upgrade.lists.SymbolItems[0].Copied, 1);
    char* real = ::realpath((m_suite / "LIB/Logic.PART").c_str(), nullptr);
    MarkLostSaves(app.upgrade.lists, app.installation.env, app.window.dialogs, {{real, "7400"}});
    std::free(real);
    EXPECT_EQ(app.upgrade.lists.PartItems[0].Copied, 0);
    EXPECT_EQ(app.upgrade.lists.SymbolItems[0].Copied, 1);
    EXPECT_EQ(BoxTexts().back(),
              "These elements could not be written to their libraries after all (is the disk full?): 7400. The "
              "summary shows them as not copied.");
}

class TargetCaseTest : public test::UpgradeTest {};

TEST_F(TargetCaseTest, TargetsAreFoundWhateverTheirLetterCase) {
    MakeLibrary(m_suite / "LIB/Logic.PART", true, {PartJson("7400", "OLD")});
    MakeLibrary(m_suite / "ZSM_MOD/Diodes.SML", false, {test::ModelJson("D1N4148", "D,small", "old")});
    test::WriteFile(m_suite / "ZSM_MOD/modpar.idx", "D||DIODES|D1N4148|old\r\n");
    test::WriteFile(m_suite / "LIB/heatsink.TAL", "old");
    std::filesystem::last_write_time(m_suite / "LIB/heatsink.TAL", std::filesystem::file_time_type::clock::now() -
                                                                        std::chrono::hours(24));
    std::filesystem::create_directory(m_suite / "ZSM_SBK/REGS");
    MakeLibrary(m_upgrade / "Upgrade.PART", true, {PartJson("7404", "NEW")});
    MakeLibrary(m_upgrade / "Upgrade.SPARAM", false, {test::ModelJson("D1N914", "D,switching", "fast")});
    test::WriteFile(m_upgrade / "HEATSINK.tal", "new");
    test::WriteFile(m_upgrade / "LM7805.SBC", ".SUBCKT LM7805 1 2 3\r\n*Regulator, 5 V\r\n");
    WriteList({"1,0,1,7404,logic.part", "5,0,5,D1N914,diodes.sml", "4,0,1,HEATSINK.tal", "4,0,9,LM7805.SBC,regs"});
    App& app = Open();
    Update(app);
    auto names = [](const std::string& dir) {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().filename().string()[0] != '.') found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(names(m_suite / "LIB"), (std::vector<std::string>{"Logic.PART", "heatsink.TAL"}));
    EXPECT_EQ(names(m_suite / "ZSM_MOD"), (std::vector<std::string>{"Diodes.SML", "modpar.idx"}));
    EXPECT_EQ(names(m_suite / "ZSM_SBK"), (std::vector<std::string>{"REGS"}));  // no index is made
    EXPECT_EQ(LibraryNames(m_suite / "LIB/Logic.PART"), (std::vector<std::string>{"7400", "7404"}));
    EXPECT_EQ(LibraryNames(m_suite / "ZSM_MOD/Diodes.SML"), (std::vector<std::string>{"D1N4148", "D1N914"}));
    EXPECT_EQ(test::ReadFile(m_suite / "LIB/heatsink.TAL"), "new");
    EXPECT_TRUE(std::filesystem::exists(m_suite / "ZSM_SBK/REGS/LM7805.SBC"));
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_MOD/modpar.idx"), "D||DIODES|D1N4148|old\r\nD||DIODES|D1N914|fast\r\n");
    EXPECT_EQ(StatusOf("7404"), "Copied");
    EXPECT_EQ(StatusOf("HEATSINK.tal"), "Copied");
}

// A model that fails after its target library was opened must not leave the next model of another
// library probed on, or saved into, that library.
class ModelTargetTest : public test::UpgradeTest {
protected:
    void SetUp() override {
        MakeLibrary(m_upgrade / "Upgrade.SPARAM", false,
                    {test::ModelJson("D1N5822", "D,schottky", "3 A"), SymbolJson("NOTEXT", 3, {{2, ""}}),
                     test::ModelJson("D1N914", "D,switching", "fast")});
        MakeLibrary(m_upgrade / "Upgrade.MPARAM", false,
                    {test::ModelJson("ADC", "ADC,converter", "12 bit"), test::ModelJson("ODD ", "ODD,x", "y"),
                     test::ModelJson("DAC", "DAC,converter", "10 bit")});
        test::WriteFile(m_suite / "ZSM_MOD/modpar.idx", "");
    }
};

TEST_F(ModelTargetTest, ASimulatorModelAfterAFailedOneGoesIntoItsOwnLibrary) {
    WriteList({"5,0,5,D1N5822,Diodes.SML", "5,0,5,NOTEXT,Odd.SML", "5,0,5,D1N914,Diodes.SML"});
    App& app = Open();
    Update(app);
    EXPECT_EQ(LibraryNames(m_suite / "ZSM_MOD/Diodes.SML"), (std::vector<std::string>{"D1N5822", "D1N914"}));
    EXPECT_EQ(LibraryNames(m_suite / "ZSM_MOD/Odd.SML"), std::vector<std::string>{"NOTEXT"});
    EXPECT_EQ(StatusOf("D1N914"), "Copied");
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_MOD/modpar.idx"), "D||DIODES|D1N5822|3 A\r\nD||DIODES|D1N914|fast\r\n");
}

TEST_F(ModelTargetTest, AMixedModeModelAfterAFailedOneGoesIntoItsOwnLibrary) {
    // "ODD " is duplicated under its own name but looked for trimmed: it fails after its library
    // was opened for writing.
    WriteList({"6,0,1,ADC,A.MPARAM", "6,0,1,ODD ,B.MPARAM", "6,0,1,DAC,A.MPARAM"});
    App& app = Open();
    Update(app);
    EXPECT_EQ(StatusOf("ODD "), "Not copied");
    EXPECT_EQ(LibraryNames(m_suite / "LIB/A.MPARAM"), (std::vector<std::string>{"ADC", "DAC"}));
    EXPECT_EQ(LibraryNames(m_suite / "LIB/B.MPARAM"), std::vector<std::string>{});
    EXPECT_EQ(StatusOf("DAC"), "Copied");
}

TEST_F(ModelTargetTest, TheOverwriteQuestionLooksInTheModelsOwnLibrary) {
    MakeLibrary(m_suite / "ZSM_MOD/Diodes.SML", false, {test::ModelJson("D1N914", "D,old", "old")});
    WriteList({"5,0,5,D1N5822,Diodes.SML", "5,0,5,NOTEXT,Odd.SML", "5,0,5,D1N914,Diodes.SML"});
    App& app = Open();
    app.window.main.F_OverPrompt(0).Click();
    m_dialogs.QueueAnswer(ui::Answer::Yes);  // the confirmation
    m_dialogs.QueueAnswer(ui::Answer::No);   // D1N914 is in Diodes.SML
    Update(app);
    ASSERT_EQ(BoxTexts().size(), 2u);
    EXPECT_EQ(BoxTexts()[1], "SML parameter(model) with same name (D1N914) are already stored in lib: " +
                                 (m_suite / "ZSM_MOD/Diodes.SML") + ".\r\nOverwrite anyway ?");
    EXPECT_EQ(StatusOf("D1N914"), "Not copied");
    EXPECT_NE(Text1(m_suite / "ZSM_MOD/Diodes.SML", "D1N914").find("D,old"), std::string::npos);
    EXPECT_EQ(LibraryNames(m_suite / "ZSM_MOD/Odd.SML"), std::vector<std::string>{"NOTEXT"});
}

}  // namespace
}  // namespace zrx
