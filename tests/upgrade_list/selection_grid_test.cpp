#include "program/selection_page.h"
#include "upgrade_list/selection_grid.h"

#include <gtest/gtest.h>

#include "program/upgrade_pages.h"
#include "support/app_fixture.h"

namespace zrx {
namespace {

constexpr const char* kHeader = "0,Upgrade.PART,A_Upg.SYMBOL,I_Upg.SYMBOL,Upgrade.PACKAGE,Upgrade.SPARAM,Upgrade.MPARAM";

class SelectionGridTest : public test::AppTest {
protected:
    App& Load(const std::vector<std::string>& lines) {
        App& app = Start();
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        test::WriteFile(m_upgrade / "Upgrade.lst", text);
        app.window.main.F_lstdir.SetPath(m_upgrade.Path());
        app.window.main.F_lstok.Click();
        return app;
    }
    std::vector<std::string> Row(int r) const {
        std::vector<std::string> cells;
        for (int c = 0; c < 5; ++c) cells.push_back(m_app->window.main.F_Preferen.TextMatrix(r, c));
        return cells;
    }
    // A click or drag in the grid, as the mouse leaves it.
    void Drag(int fromRow, int toRow, int col) {
        m_app->window.main.F_Preferen.UserSelect(fromRow, col, toRow, col);
    }

    test::TempDir m_upgrade;
};

using Cells = std::vector<std::string>;

TEST_F(SelectionGridTest, OffersOneRowPerElementInKindOrder) {
    App& app = Load({kHeader, "4,0,2,cool.DAT", "6,0,1,MM1,M.MPARAM", "2,0,1,S1,Sym.SYMBOL,A_Upg.SYMBOL",
                     "1,0,1,P1,Logic.PART", "1,0,1,P2,Logic.PART", "1,0,1,P3,Logic.PART",
                     "2,0,1,S2,I_x.SYMBOL,I_Upg.SYMBOL", "3,0,1,DIP8,Pkg.PACKAGE", "5,0,5,Q1,M.SML"});
    const ui::Grid& grid = app.window.main.F_Preferen;
    EXPECT_EQ(grid.Rows(), 10);
    EXPECT_EQ(grid.Cols(), 6);  // the five columns, then what each row would change
    EXPECT_EQ(grid.TextMatrix(0, 5), "Change");
    EXPECT_EQ(grid.FixedRows(), 1);
    EXPECT_EQ(grid.FixedCols(), 0);
    EXPECT_EQ(Row(0), (Cells{"Lib Elements", "Target Library", "Target Subdir", "Update", "Filetype"}));
    EXPECT_EQ(Row(1), (Cells{"P1", "Logic.PART", m_suite / "LIB", "YES", "Part file"}));
    EXPECT_EQ(Row(3)[0], "P3");
    EXPECT_EQ(Row(4), (Cells{"S1", "Sym.SYMBOL", m_suite / "LIB", "YES", "Symbol"}));
    EXPECT_EQ(Row(6), (Cells{"DIP8", "Pkg.PACKAGE", m_suite / "LIB", "YES", "Package"}));
    EXPECT_EQ(Row(7), (Cells{"Q1", "M.SML", m_suite / "ZSM_MOD", "YES", "Spice Model Lib File"}));
    EXPECT_EQ(Row(8), (Cells{"MM1", "M.MPARAM", m_suite / "LIB", "YES", "Mixed Mode Parameter Lib File"}));
    EXPECT_EQ(Row(9), (Cells{"cool.DAT", m_suite / "JOB", m_suite / "JOB", "YES", "Thermal data file"}));
    EXPECT_EQ(app.upgrade.GridRows[4].UpgSymbolLib, "I_Upg.SYMBOL");
    EXPECT_EQ(grid.ColWidth(0), 7 * 14);  // the width of " Lib Elements " in the window's font
    EXPECT_EQ(grid.ColWidth(4), 7 * 14);
}

TEST_F(SelectionGridTest, FileTypesFollowTheNameOrTheDescription) {
    Load({kHeader, "4,0,9,op.sbc,OPAMP", "4,0,8,x.dll", "4,0,5,m.mpl", "4,0,5,n.sml", "4,0,3,p.spc", "4,0,1,t.tal",
          "4,0,1,any.bin", "4,0,1,desc.bin,Misc File"});
    EXPECT_EQ(Row(1), (Cells{"op.sbc", "OPAMP", m_suite / "ZSM_SBK", "YES", "Spice subcircuit file"}));
    EXPECT_EQ(Row(2)[4], "System file");
    EXPECT_EQ(Row(3)[4], "Mixed Mode Parameter Lib File");
    EXPECT_EQ(Row(4)[4], "Spice Model Lib File");
    EXPECT_EQ(Row(5)[4], "Spice profile file");
    EXPECT_EQ(Row(6)[4], "Thermal analyzer file");
    EXPECT_EQ(Row(7)[4], "Misc Lib file");
    EXPECT_EQ(Row(8)[4], "Misc File");
}

TEST_F(SelectionGridTest, WithheldElementsLeaveEmptyRowsThatNeverFlip) {
    App& app = Load({kHeader, "5,1,5,HIDDEN,M.SML", "4,1,1,t.TAL", "4,1,1,shown.SPC", "1,0,1,P1,L.PART"});
    const ui::Grid& grid = app.window.main.F_Preferen;
    ASSERT_EQ(grid.Rows(), 5);
    EXPECT_EQ(Row(1)[0], "P1");
    EXPECT_EQ(Row(2)[0], "shown.SPC");
    EXPECT_EQ(Row(3), Cells(5));
    EXPECT_EQ(Row(4), Cells(5));
    Drag(3, 4, 3);
    EXPECT_EQ(Row(4)[3], "");
    // A kind whose first record has no name counts its last index only: one row for its two
    // records (the nameless one is not offered), no empty row after it.
    Load({kHeader, "1,0,1,,L.PART", "1,0,1,P2,L.PART"});
    EXPECT_EQ(m_app->window.main.F_Preferen.Rows(), 2);
    EXPECT_EQ(Row(1)[0], "P2");
}

TEST_F(SelectionGridTest, ClicksInTheUpdateColumnFlipTheSelectedRows) {
    App& app = Load({kHeader, "1,0,1,A,L.PART", "1,0,1,B,L.PART", "1,0,1,C,L.PART", "1,0,1,D,L.PART"});
    Drag(2, 4, 3);
    EXPECT_EQ(Row(1)[3], "YES");
    EXPECT_EQ(Row(2)[3], "NO");
    EXPECT_EQ(Row(3)[3], "NO");
    EXPECT_EQ(Row(4)[3], "NO");
    EXPECT_EQ(app.window.main.F_Preferen.Col(), 3);
    Drag(4, 2, 3);  // upwards: the same rows, flipped back
    EXPECT_EQ(Row(2)[3], "YES");
    EXPECT_EQ(Row(4)[3], "YES");
    Drag(1, 4, 0);  // another column changes nothing
    for (int r = 1; r <= 4; ++r) EXPECT_EQ(Row(r)[3], "YES");
    Drag(1, 1, 3);
    EXPECT_EQ(Row(1)[3], "NO");
}

TEST_F(SelectionGridTest, CollectingRebuildsTheListsFromEveryRow) {
    App& app = Load({kHeader, "1,1,7,A,L.PART", "2,0,1,S,I_L.SYMBOL,I_Upg.SYMBOL", "5,0,9,Q,M.SML",
                     "6,0,3,MM,M.MPARAM", "4,0,9,op.sbc,OPAMP", "4,0,2,cool.DAT,Cooling"});
    Drag(1, 6, 3);  // every row to NO
    CollectSelection(app.upgrade.lists, app.upgrade.GridRows,
                     GridSelection(app.window.main.F_Preferen, app.upgrade.GridRows.size() - 1));
    const UpgradeLists& l = app.upgrade.lists;
    ASSERT_EQ(l.PartItems.size(), 1u);
    EXPECT_EQ(l.PartItems[0].Name, "A");
    EXPECT_EQ(l.PartItems[0].Update, 0);
    EXPECT_EQ(l.PartItems[0].DestKind, 1);
    EXPECT_EQ(l.PartItems[0].Withheld, 0);
    EXPECT_EQ(l.SymbolItems[0].UpgSymbolLib, "I_Upg.SYMBOL");
    EXPECT_EQ(l.SpiceModelItems[0].DestKind, 5);
    EXPECT_EQ(l.MixedModelItems[0].DestKind, 1);
    ASSERT_EQ(l.DataFileItems.size(), 2u);
    EXPECT_EQ(l.DataFileItems[0].TargetDir, m_suite / "ZSM_SBK");
    EXPECT_EQ(l.DataFileItems[0].TargetLib, "OPAMP");
    EXPECT_EQ(l.DataFileItems[1].TargetLib, m_suite / "JOB");
    EXPECT_EQ(l.DataFileItems[1].FileType, "Cooling");
    EXPECT_EQ(l.DataFileItems[1].DestKind, 0);
    EXPECT_EQ(l.PackageItems.size(), 1u);  // no row: the placeholder
    EXPECT_EQ(l.PackageItems[0].Name, "");
    Drag(2, 2, 3);
    CollectSelection(app.upgrade.lists, app.upgrade.GridRows,
                     GridSelection(app.window.main.F_Preferen, app.upgrade.GridRows.size() - 1));
    EXPECT_EQ(app.upgrade.lists.SymbolItems[0].Update, 1);
}

TEST_F(SelectionGridTest, TheOverwriteOptionsSetTheirFlags) {
    App& app = Start();
    app.window.main.F_OverPrompt(0).Click();
    EXPECT_TRUE(app.run.AskOverwrite);
    EXPECT_FALSE(app.run.OverwriteAll);
    EXPECT_FALSE(app.window.main.F_OverPrompt(1).Value());
    app.window.main.F_OverPrompt(1).Click();
    EXPECT_FALSE(app.run.AskOverwrite);
    EXPECT_TRUE(app.run.OverwriteAll);
}

TEST_F(SelectionGridTest, AUserGoesThroughTheLoadPageLikeThis) {
    App& app = Load({kHeader, "1,0,1,A,L.PART", "1,0,1,B,L.PART", "7,Welcome"});
    ui::MainForm& m = app.window.main;
    EXPECT_FALSE(m.F_lstfrm.Visible());
    EXPECT_TRUE(m.F_Msg.Visible());
    Drag(2, 2, 3);
    m.F_Proceed.Click();
    EXPECT_TRUE(m.F_Deffrm.Visible());
    m.F_OverPrompt(0).Click();
    m.F_Cancel.Click();
    EXPECT_TRUE(m.F_Msg.Visible());
    EXPECT_EQ(Row(2)[3], "NO");  // the grid as the user left it
    EXPECT_TRUE(app.run.AskOverwrite);
    std::string readme;
    m_dialogs.OnModal([&](ui::Form& form) { readme = static_cast<ui::TextBox*>(form.Find("F_Summary"))->Text(); });
    m.F_Info.Click();
    EXPECT_EQ(readme, "Welcome\r\n");
    EXPECT_TRUE(m_dialogs.Boxes().empty());
}

TEST_F(SelectionGridTest, AHundredThousandRecordsLoadAndFill) {
    std::vector<std::string> lines = {kHeader};
    for (int i = 0; i < 100000; ++i) lines.push_back("1,0,1,PART" + std::to_string(i) + ",Big.PART");
    App& app = Load(lines);
    EXPECT_EQ(app.window.main.F_Preferen.Rows(), 100001);
    EXPECT_EQ(Row(100000)[0], "PART99999");
}

}  // namespace
}  // namespace zrx
