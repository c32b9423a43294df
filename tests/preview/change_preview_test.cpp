#include "preview/change_preview.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <map>
#include <set>

#include "support/folder.h"
#include "support/upgrade_fixture.h"

namespace zrx {
namespace {

using test::MakeLibrary;
using test::ModelJson;
using test::PartJson;
using test::SymbolJson;

namespace fs = std::filesystem;

// An installation that holds some of an upgrade's elements and files as they are, some
// differently, and lacks others; and an upgrade with every kind of row.
class ChangePreviewTest : public test::UpgradeTest {
protected:
    void SetUp() override {
        // P_TAIL differs only in its last pin's name: far from the first bytes of what is stored.
        const std::string tail = PartJson("P_TAIL");
        MakeLibrary(m_suite / "LIB/Logic.PART", true,
                    {PartJson("P_SAME"), PartJson("P_CHANGED", "OLD"), tail});
        MakeLibrary(m_upgrade / "Upgrade.PART", true,
                    {PartJson("P_SAME"), PartJson("P_CHANGED", "NEW"), PartJson("P_NEW"),
                     tail.substr(0, tail.rfind("\"A\"")) + "\"Z\"}]}]}}", PartJson("P_DAMAGED")});
        MakeLibrary(m_suite / "LIB/Logic.SYMBOL", false,
                    {SymbolJson("S_SAME", 1, {{6, "s"}}), SymbolJson("S_CHANGED", 1, {{6, "old"}})});
        MakeLibrary(m_upgrade / "A_Upg.SYMBOL", false,
                    {SymbolJson("S_SAME", 1, {{6, "s"}}), SymbolJson("S_CHANGED", 1, {{6, "new"}})});
        MakeLibrary(m_upgrade / "I_Upg.SYMBOL", false, {SymbolJson("I_NEW", 1, {{6, "i"}})});
        MakeLibrary(m_suite / "LIB/Std.PACKAGE", false, {SymbolJson("K_SAME", 2, {{6, "8"}})});
        MakeLibrary(m_upgrade / "Upgrade.PACKAGE", false,
                    {SymbolJson("K_SAME", 2, {{6, "8"}}), SymbolJson("K_NEW", 2, {})});
        MakeLibrary(m_suite / "ZSM_MOD/Diodes.SML", false,
                    {ModelJson("M_SAME", "D,a", "x"), ModelJson("M_CHANGED", "D,a", "old"),
                     ModelJson("M_TRAIL", "D,a", "t")});
        // A model is saved under its name without blanks around it.
        MakeLibrary(m_upgrade / "Upgrade.SPARAM", false,
                    {ModelJson("M_SAME", "D,a", "x"), ModelJson("M_CHANGED", "D,a", "new"),
                     ModelJson("M_NEW", "Q,b", "y"), ModelJson("M_TRAIL ", "D,a", "t")});
        DamageElement(m_upgrade / "Upgrade.PART", "P_DAMAGED");
        test::WriteFile(m_upgrade / "Upgrade.MPARAM", "not a library");
        test::WriteFile(m_suite / "LIB/Bad.PART", "not a library either");

        test::WriteFile(m_suite / "LIB/same.TAL", "tal");
        test::WriteFile(m_upgrade / "same.TAL", "tal");
        test::WriteFile(m_suite / "LIB/longer.TAL", "tal");  // alike as far as the shorter goes
        test::WriteFile(m_upgrade / "longer.TAL", "tal and more");
        test::WriteFile(m_outside / "outside.DAT", "from elsewhere");
        fs::create_symlink(m_outside / "outside.DAT", m_upgrade / "outside.DAT");
        test::WriteFile(m_suite / "JOB/changed.DAT", "old");
        test::WriteFile(m_upgrade / "changed.DAT", "new");
        test::WriteFile(m_upgrade / "new.SPC", "spc");
        test::WriteFile(m_upgrade / "older.txt", "txt");
        test::WriteFile(m_suite / "LIB/older.txt", "mine");
        fs::last_write_time(m_suite / "LIB/older.txt",
                            fs::last_write_time(m_upgrade / "older.txt") + std::chrono::hours(1));
        test::WriteFile(m_upgrade / "same.sbc", ".SUBCKT A 1\r\n*A, a\r\n");
        test::WriteFile(m_suite / "ZSM_SBK/REGS/same.sbc", ".SUBCKT A 1\r\n*A, a\r\n");
        test::WriteFile(m_upgrade / "new.sbc", ".SUBCKT B 1\r\n*B, b\r\n");
        // A subcircuit is copied even when older: it compares by its bytes.
        test::WriteFile(m_upgrade / "old.sbc", ".SUBCKT C 1\r\n*C, new\r\n");
        test::WriteFile(m_suite / "ZSM_SBK/REGS/old.sbc", ".SUBCKT C 1\r\n*C, old\r\n");
        fs::last_write_time(m_suite / "ZSM_SBK/REGS/old.sbc",
                            fs::last_write_time(m_upgrade / "old.sbc") + std::chrono::hours(1));

        WriteList({"1,0,1,P_SAME,Logic.PART",
                   "1,0,1,P_CHANGED,Logic.PART",
                   "1,0,1,P_NEW,Logic.PART",
                   "1,0,1,P_NEW,New.PART",
                   "1,0,1,P_GHOST,Logic.PART",
                   "1,0,1,P_SAME,Bad.PART",
                   "1,0,1,P_SAME,logic.part",  // found by letter case
                   "1,0,1,P_TAIL,Logic.PART",
                   "1,0,1,P_DAMAGED,Logic.PART",
                   "1,0,1,P_GHOST,Nowhere.PART",  // neither library nor element
                   "1,0,1,P_SAME,Diodes.SML",     // a name the model directory holds, in LibDir
                   "2,0,1,S_SAME,Logic.SYMBOL,A_Upg.SYMBOL",
                   "2,0,1,S_CHANGED,Logic.SYMBOL,A_Upg.SYMBOL",
                   "2,0,1,I_NEW,I_x.SYMBOL,i_upg.symbol",
                   "3,0,1,K_SAME,Std.PACKAGE",
                   "3,0,1,K_NEW,Std.PACKAGE",
                   "5,0,5,M_SAME,Diodes.SML",
                   "5,0,5,M_CHANGED,Diodes.SML",
                   "5,0,5,M_NEW,Diodes.SML",
                   "5,0,5,M_NEW,Other.SML",
                   "5,0,5,M_TRAIL ,Diodes.SML",
                   "6,0,1,X_MIXED,Mixed.MPARAM",
                   "4,0,1,same.TAL",
                   "4,0,1,longer.TAL",
                   "4,0,2,outside.DAT",
                   "4,0,2,changed.DAT",
                   "4,0,3,new.SPC",
                   "4,0,1,older.txt,Notes",
                   "4,0,2,ghost.DAT",
                   "4,0,9,same.sbc,regs",
                   "4,0,9,new.sbc,NEWDIR",
                   "4,0,9,old.sbc,REGS"});
    }
    // Spoils one stored element's bytes (inside, not its length).
    static void DamageElement(const std::string& library, const std::string& name) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(library.c_str(), &db), SQLITE_OK);
        const std::string sql = "UPDATE elements SET data=substr(data,1,8)||x'FF'||substr(data,10) WHERE name='" + name + "'";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    // The row of a "name library" key.
    size_t Row(const App& app, const std::string& key) {
        const auto changes = Changes(app);
        for (size_t i = 0; i < changes.size(); ++i)
            if (changes[i].first == key) return i;
        ADD_FAILURE() << "no row " << key;
        return 0;
    }
    // Each offered row's change word, by "name library".
    std::vector<std::pair<std::string, std::string>> Changes(const App& app) {
        std::vector<std::pair<std::string, std::string>> result;
        for (size_t i = 0; i < app.changeColumn.Changes().changes.size(); ++i)
            result.emplace_back(std::string(app.upgrade.GridRows[i].Name) + " " +
                                    std::string(app.upgrade.GridRows[i].TargetLib),
                                std::string(preview::ChangeWord(app.changeColumn.Changes().changes[i])));
        return result;
    }
    test::TempDir m_outside;
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST_F(ChangePreviewTest, EveryRowOfEveryKindGetsItsChange) {
    App& app = Open();
    const std::string job = m_suite / "JOB", lib = m_suite / "LIB", sys = m_suite / "SYS";
    EXPECT_EQ(Changes(app), (Pairs{{"P_SAME Logic.PART", "same"},
                                   {"P_CHANGED Logic.PART", "changed"},
                                   {"P_NEW Logic.PART", "new"},
                                   {"P_NEW New.PART", "new"},
                                   {"P_GHOST Logic.PART", "missing"},
                                   {"P_SAME Bad.PART", "unreadable"},
                                   {"P_SAME logic.part", "same"},
                                   {"P_TAIL Logic.PART", "changed"},
                                   {"P_DAMAGED Logic.PART", "unreadable"},
                                   {"P_GHOST Nowhere.PART", "missing"},
                                   {"P_SAME Diodes.SML", "new"},
                                   {"S_SAME Logic.SYMBOL", "same"},
                                   {"S_CHANGED Logic.SYMBOL", "changed"},
                                   {"I_NEW I_x.SYMBOL", "new"},
                                   {"K_SAME Std.PACKAGE", "same"},
                                   {"K_NEW Std.PACKAGE", "new"},
                                   {"M_SAME Diodes.SML", "same"},
                                   {"M_CHANGED Diodes.SML", "changed"},
                                   {"M_NEW Diodes.SML", "new"},
                                   {"M_NEW Other.SML", "new"},
                                   {"M_TRAIL  Diodes.SML", "same"},
                                   {"X_MIXED Mixed.MPARAM", "unreadable"},
                                   {"same.TAL " + lib, "same"},
                                   {"longer.TAL " + lib, "changed"},
                                   {"outside.DAT " + job, "unreadable"},
                                   {"changed.DAT " + job, "changed"},
                                   {"new.SPC " + sys, "new"},
                                   {"older.txt " + lib, "older"},
                                   {"ghost.DAT " + job, "missing"},
                                   {"same.sbc regs", "same"},
                                   {"new.sbc NEWDIR", "new"},
                                   {"old.sbc REGS", "changed"}}));
    const preview::RowChanges& changes = app.changeColumn.Changes();
    EXPECT_NE(changes.ReasonOf(Row(app, "P_SAME Bad.PART")).find("the file is not a library"), std::string::npos);
    EXPECT_NE(changes.ReasonOf(Row(app, "X_MIXED Mixed.MPARAM")).find("Upgrade.MPARAM"), std::string::npos);
    EXPECT_NE(changes.ReasonOf(Row(app, "P_DAMAGED Logic.PART")).find("damaged"), std::string::npos);
    EXPECT_NE(changes.ReasonOf(Row(app, "outside.DAT " + job)).find("is a symbolic link, not a file"),
              std::string::npos);
    // The grid shows the change in its sixth column; the five columns stay as they are.
    const ui::Grid& grid = app.window.main.F_Preferen;
    EXPECT_EQ(grid.TextMatrix(0, 5), "Change");
    EXPECT_EQ(grid.TextMatrix(1, 5), "same");
    EXPECT_EQ(grid.TextMatrix(5, 5), "missing: not in the upgrade library " + (m_upgrade / "Upgrade.PART"));
    EXPECT_EQ(grid.TextMatrix(1, 3), "YES");
}

TEST_F(ChangePreviewTest, APreviewWritesCreatesAndLocksNothing) {
    const std::string before = test::TreeSnapshot(m_suite.Dir());
    const std::string upgradeBefore = test::TreeSnapshot(m_upgrade.Path());
    Open();
    EXPECT_EQ(test::TreeSnapshot(m_suite.Dir()), before);
    EXPECT_EQ(test::TreeSnapshot(m_upgrade.Path()), upgradeBefore);
    // No read lock is left: another connection can write at once.
    std::string error;
    EXPECT_TRUE(test::Done(ImportLibrary(m_suite / "LIB/Logic.PART",
                                         R"({"kind":"ZarnixDLL00","elements":[)" + PartJson("Z") + "]}")));
}

TEST_F(ChangePreviewTest, AfterARunTheRowsItCopiedAreTheSameUntilSomeoneEditsThem) {
    App& app = Open();
    Update(app);
    const auto beforeRun = Changes(app);
    EXPECT_EQ(beforeRun[1].second, "changed");  // still as before the run while the grid is not shown
    app.window.main.F_Cancel.Click();
    // Back on the selection page, the column is worked out again.
    std::map<std::string, std::string> after;
    for (const auto& [row, change] : Changes(app)) after[row] = change;
    for (const char* row :
         {"P_CHANGED Logic.PART", "P_NEW New.PART", "I_NEW I_x.SYMBOL", "K_NEW Std.PACKAGE",
          "M_CHANGED Diodes.SML", "M_NEW Other.SML", "same.sbc regs", "new.sbc NEWDIR", "old.sbc REGS"})
        EXPECT_EQ(after[row], "same") << row;
    EXPECT_EQ(after["changed.DAT " + (m_suite / "JOB")], "same");
    EXPECT_EQ(after["older.txt " + (m_suite / "LIB")], "older");  // the run refused it
    EXPECT_EQ(after["P_GHOST Logic.PART"], "missing");

    std::string error;
    ASSERT_TRUE(ImportLibrary(m_suite / "LIB/Logic.PART",
                              R"({"kind":"ZarnixDLL00","elements":[)" + PartJson("P_NEW", "EDITED") + "]}"));
    // Loading the list again compares again.
    app.window.main.F_Proceed.Click();
    app.window.main.F_Msg.SetVisible(false);
    app.window.main.F_lstfrm.SetVisible(true);
    app.window.main.F_lstok.Click();
    EXPECT_EQ(Changes(app)[2], (std::pair<std::string, std::string>{"P_NEW Logic.PART", "changed"}));
}

TEST_F(ChangePreviewTest, UnchangedRowsCanAllBeSetToNoAndNothingElse) {
    App& app = Open();
    app.window.main.F_Cancel.Click();
    ui::Grid& grid = app.window.main.F_Preferen;
    grid.UserSelect(2, 3, 2, 3);  // P_CHANGED to NO by hand
    app.window.main.P_SameToNo.Click();
    const std::set<std::string> no = {"P_SAME Logic.PART", "P_CHANGED Logic.PART", "P_SAME logic.part",
                                      "S_SAME Logic.SYMBOL", "K_SAME Std.PACKAGE", "M_SAME Diodes.SML",
                                      "M_TRAIL  Diodes.SML", "same.TAL " + (m_suite / "LIB"), "same.sbc regs"};
    const auto rows = Changes(app);
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(grid.TextMatrix(static_cast<int>(i) + 1, 3), no.count(rows[i].first) ? "NO" : "YES") << rows[i].first;
}

}  // namespace
}  // namespace zrx
