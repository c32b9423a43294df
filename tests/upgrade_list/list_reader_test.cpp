#include "upgrade_list/list_reader.h"

#include <gtest/gtest.h>

#include "program/upgrade_pages.h"
#include "support/app_fixture.h"
#include "program/selection_page.h"
#include "upgrade_list/selection_grid.h"

namespace zrx {
namespace {

constexpr const char* kHeader = "0,Upgrade.PART,A_Upg.SYMBOL,I_Upg.SYMBOL,Upgrade.PACKAGE,Upgrade.SPARAM,Upgrade.MPARAM";

class ListReaderTest : public test::AppTest {
protected:
    // Writes the lines (CR LF) into the upgrade folder and presses OK on it.
    App& Load(const std::vector<std::string>& lines, const std::string& name = "Upgrade.lst") {
        App& app = m_app ? *m_app : Start();
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        test::WriteFile(m_upgrade / name, text);
        app.window.main.F_lstdir.SetPath(m_upgrade.Path());
        F_lstok_Click(app);
        return app;
    }
    bool Loaded() const {
        return m_app->window.main.F_Msg.Visible() && !m_app->window.main.F_lstfrm.Visible();
    }
    std::string ListFile() const { return m_upgrade / "Upgrade.lst"; }

    test::TempDir m_upgrade;
};

TEST_F(ListReaderTest, ReadsEveryRecordKindIntoItsList) {
    App& app = Load({kHeader, "1,0,1,7400,Logic.PART", "2,0,1,NAND,I_Logic.SYMBOL, I_Upg.SYMBOL ",
                     "3,0,1,DIP14,Pkg.PACKAGE", "5,0,5,D1N4148,Diodes.SML", "6,0,1,MM1,Mixed.MPARAM",
                     "4,0,2,cool.DAT", "7,Read me", "7,second line, cut here", "99,END", "1,0,1,AFTER,Logic.PART"});
    ASSERT_TRUE(Loaded());
    EXPECT_TRUE(m_dialogs.Boxes().empty());
    const LoadedList& l = app.upgrade.loaded;
    ASSERT_EQ(l.Count(kPartRecord), 2u);  // records after the end record load too
    EXPECT_EQ(l.At(kPartRecord, 0).Name, "7400");
    EXPECT_EQ(l.At(kPartRecord, 0).TargetLib, "Logic.PART");
    EXPECT_EQ(l.At(kPartRecord, 0).DestKind, 1);
    EXPECT_EQ(l.At(kPartRecord, 1).Name, "AFTER");
    EXPECT_EQ(l.At(kSymbolRecord, 0).UpgSymbolLib, "I_Upg.SYMBOL");
    EXPECT_EQ(l.At(kSparamRecord, 0).DestKind, 5);
    EXPECT_EQ(l.At(kDataFileRecord, 0).TargetDir, m_suite / "JOB");
    EXPECT_EQ(app.upgrade.ReadmeLines, (std::vector<std::string>{"Read me", "second line"}));
    EXPECT_EQ(app.upgrade.UpgLibPath[0], m_upgrade / "Upgrade.PART");
    EXPECT_EQ(app.upgrade.UpgLibPath[5], m_upgrade / "Upgrade.MPARAM");
    EXPECT_EQ(app.upgrade.ListPath, m_upgrade.Path());
}

TEST_F(ListReaderTest, TypeFieldsAreNumbersAndNumbersRoundHalvesToEven) {
    App& app = Load({kHeader, " 1,0,1,A,L.PART", "01,0,1,B,L.PART", "1.0,2.5,3.5,C,L.PART", "1.5,0,1,D,L.PART",
                     "x,Upgrade.part,a,b,c,d,e"});
    ASSERT_TRUE(Loaded());
    ASSERT_EQ(app.upgrade.loaded.Count(kPartRecord), 3u);
    EXPECT_EQ(app.upgrade.loaded.At(kPartRecord, 2).Withheld, 2);
    EXPECT_EQ(app.upgrade.loaded.At(kPartRecord, 2).DestKind, 4);
    // A non-numeric type field is a header; this one names the part library in lower case.
    EXPECT_EQ(app.upgrade.UpgLibPath[1], m_upgrade / "a");
}

TEST_F(ListReaderTest, DataFileFieldsFollowTheFileKind) {
    App& app = Load({kHeader, "4,1,1,therm.TAL", "4,1,3,prof.SPC", "4,0,9,opamp.sbc, OPAMPS ",
                     "4,0,6,other.sbc, OPAMPS ", "4,0,5,notes.txt,  Release notes ", "4,1,1,x.DLL"});
    ASSERT_TRUE(Loaded());
    const LoadedList& l = app.upgrade.loaded;
    ASSERT_EQ(l.Count(kDataFileRecord), 6u);
    EXPECT_EQ(l.At(kDataFileRecord, 0).Withheld, 1);
    EXPECT_EQ(l.At(kDataFileRecord, 1).Withheld, 0);  // field 2 counts only for .SBC, .TAL and .DAT
    EXPECT_EQ(l.At(kDataFileRecord, 2).TargetLib, "OPAMPS");
    EXPECT_EQ(l.At(kDataFileRecord, 2).TargetDir, m_suite / "ZSM_SBK");
    EXPECT_EQ(l.At(kDataFileRecord, 3).TargetLib, "");
    EXPECT_EQ(l.At(kDataFileRecord, 3).FileType, "OPAMPS");
    EXPECT_EQ(l.At(kDataFileRecord, 3).TargetDir, m_suite / "ZSM_SBK");
    EXPECT_EQ(l.At(kDataFileRecord, 4).FileType, "Release notes");
    EXPECT_EQ(l.At(kDataFileRecord, 5).TargetDir, m_suite / "LIB");
}

TEST_F(ListReaderTest, AListWithoutElementsLoadsAndOffersNothing) {
    App& app = Load({kHeader, "7,a", "7,b", "99,END"});
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(app.upgrade.loaded.Count(kPartRecord), 0u);
    EXPECT_EQ(app.window.main.F_Preferen.Rows(), 1);
}

TEST_F(ListReaderTest, AnEmptyListLoadsAndKeepsTheLibraryPaths) {
    Load({kHeader});
    const std::string before = m_app->upgrade.UpgLibPath[0];
    m_app->window.main.F_Msg.SetVisible(false);
    m_app->window.main.F_lstfrm.SetVisible(true);
    test::WriteFile(ListFile(), "");
    F_lstok_Click(*m_app);
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(m_app->upgrade.UpgLibPath[0], before);
}

TEST_F(ListReaderTest, AListNamedInCapitalsIsFound) {
    Load({kHeader, "1,0,1,7400,L.PART"}, "UPGRADE.LST");
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(m_app->upgrade.loaded.At(kPartRecord, 0).Name, "7400");
}

TEST_F(ListReaderTest, TwoDotsInsideANameAreAnOrdinaryName) {
    App& app = Load({kHeader, "1,0,1,7400,My..Lib.PART", "4,0,2,ver1..2.txt", "4,0,9,a.sbc,SUB..DIR"});
    ASSERT_TRUE(Loaded()) << (BoxTexts().empty() ? "" : BoxTexts()[0]);
    EXPECT_EQ(app.upgrade.loaded.At(kPartRecord, 0).TargetLib, "My..Lib.PART");
    EXPECT_EQ(app.upgrade.loaded.At(kDataFileRecord, 0).Name, "ver1..2.txt");
    EXPECT_EQ(app.upgrade.loaded.At(kDataFileRecord, 1).TargetLib, "SUB..DIR");
}

TEST_F(ListReaderTest, EmptyLibraryNamesInTheHeaderAreTakenAsTheyStand) {
    App& app = Load({"0,Upgrade.PART,,I_Upg.SYMBOL,  ,Upgrade.SPARAM,", "1,0,1,7400,L.PART"});
    ASSERT_TRUE(Loaded()) << (BoxTexts().empty() ? "" : BoxTexts()[0]);
    EXPECT_EQ(app.upgrade.UpgLibPath[1], m_upgrade.Path() + "/");
    EXPECT_EQ(app.upgrade.UpgLibPath[2], m_upgrade / "I_Upg.SYMBOL");
    EXPECT_EQ(app.upgrade.UpgLibPath[3], m_upgrade.Path() + "/");  // blanks only are empty too
}

// A subcircuit without a subdirectory (none, or blanks) is one of the subcircuit directory itself.
TEST_F(ListReaderTest, ASubcircuitWithoutASubdirectoryBelongsToTheSubcircuitDirectory) {
    App& app = Load({kHeader, "4,0,9,a.sbc", "4,0,9,b.sbc,  "});
    ASSERT_TRUE(Loaded()) << (BoxTexts().empty() ? "" : BoxTexts()[0]);
    EXPECT_EQ(app.window.main.F_Preferen.TextMatrix(1, 1), "");
    EXPECT_EQ(app.window.main.F_Preferen.TextMatrix(2, 2), m_suite / "ZSM_SBK");
}

TEST_F(ListReaderTest, TheFileKindOfANameWithTrailingBlanksIsThatOfTheTrimmedName) {
    App& app = Load({kHeader, "4,1,1,x.tal ", "4,0,9,z.sbc ,SUB", "4,1,2,y.DAT  "});
    ASSERT_TRUE(Loaded());
    const LoadedList& l = app.upgrade.loaded;
    ASSERT_EQ(l.Count(kDataFileRecord), 3u);
    EXPECT_EQ(l.At(kDataFileRecord, 0).Withheld, 1);
    EXPECT_EQ(l.At(kDataFileRecord, 1).TargetLib, "SUB");
    EXPECT_EQ(l.At(kDataFileRecord, 1).FileType, "");
    EXPECT_EQ(l.At(kDataFileRecord, 2).Withheld, 1);
    EXPECT_EQ(app.window.main.F_Preferen.TextMatrix(1, 0), "z.sbc ");  // the withheld files are not offered
}

struct BadList {
    const char* name;
    std::vector<std::string> lines;
    std::string message;  // %LIST% stands for the list's path
};

void PrintTo(const BadList& list, std::ostream* out) { *out << list.name; }

class BadListTest : public ListReaderTest, public ::testing::WithParamInterface<BadList> {};

TEST_P(BadListTest, FailsWithItsMessageAndTheLoadPageStays) {
    Load(GetParam().lines);
    EXPECT_FALSE(Loaded());
    EXPECT_TRUE(m_app->window.main.F_lstfrm.Visible());
    std::string expected = GetParam().message;
    expected.replace(expected.find("%LIST%"), 6, ListFile());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{expected});
    EXPECT_EQ(m_app->window.main.F_Preferen.Rows(), 2);  // no grid was built
}

INSTANTIATE_TEST_SUITE_P(
    Lists, BadListTest,
    ::testing::Values(
        BadList{"wrong_header", {"0,Other.PART,a,b,c,d,e"}, "Wrong Format : %LIST%"},
        BadList{"empty_line", {kHeader, "", "1,0,1,A,L.PART"},
                "Make sure that Upgrade files are in the specified path :  %LIST%"},
        BadList{"short_part_line", {kHeader, "1,0,1,A"}, "Make sure that Upgrade files are in the specified path :  %LIST%"},
        BadList{"short_symbol_line", {kHeader, "2,0,1,A,L.SYMBOL"},
                "Make sure that Upgrade files are in the specified path :  %LIST%"},
        BadList{"number_beyond_32_bits", {kHeader, "1,99999999999,1,A,L.PART"},
                "Make sure that Upgrade files are in the specified path :  %LIST%"},
        BadList{"parent_directory", {kHeader, "4,0,1,../x.dat"},
                "Unsafe name in the upgrade list %LIST%, line 2: \"../x.dat\" (a path separator). Nothing is offered "
                "from this list."},
        BadList{"dot_dot", {kHeader, "4,0,1,.."},
                "Unsafe name in the upgrade list %LIST%, line 2: \"..\" (\"..\"). Nothing is offered from this list."},
        BadList{"dot", {kHeader, "1,0,1,A, . "},
                "Unsafe name in the upgrade list %LIST%, line 2: \" . \" (\".\"). Nothing is offered from this list."},
        BadList{"absolute_library", {kHeader, "1,0,1,A,/etc/passwd"},
                "Unsafe name in the upgrade list %LIST%, line 2: \"/etc/passwd\" (a path separator). Nothing is "
                "offered from this list."},
        BadList{"drive", {kHeader, "1,0,1,A,C:LIB.PART"},
                "Unsafe name in the upgrade list %LIST%, line 2: \"C:LIB.PART\" (a drive). Nothing is offered from "
                "this list."},
        BadList{"lower_case_drive", {kHeader, "4,0,2,c:x.dat"},
                "Unsafe name in the upgrade list %LIST%, line 2: \"c:x.dat\" (a drive). Nothing is offered from "
                "this list."},
        BadList{"backslash_subdir", {kHeader, "4,0,9,a.SBC,..\\..\\x"},
                "Unsafe name in the upgrade list %LIST%, line 2: \"..\\..\\x\" (a path separator). Nothing is offered "
                "from this list."},
        BadList{"reordering_mark", {kHeader, "4,0,1,\xe2\x80\xaeLAT.exe.TAL"},
                "Unsafe name in the upgrade list %LIST%, line 2: \"\\u202ELAT.exe.TAL\" (a mark that reorders the text "
                "around it). Nothing is offered from this list."},
        BadList{"control_character", {kHeader, "4,0,1,a\tb.dat"},
                "Unsafe name in the upgrade list %LIST%, line 2: \"a\\x09b.dat\" (a control character). Nothing is "
                "offered from this list."},
        BadList{"sixth_header_library", {"0,Upgrade.PART,a,b,c,d,C:M.MPARAM"},
                "Unsafe name in the upgrade list %LIST%, line 1: \"C:M.MPARAM\" (a drive). Nothing is offered from "
                "this list."},
        BadList{"empty_library", {kHeader, "1,0,1,A,  "},
                "Unsafe name in the upgrade list %LIST%, line 2: \"  \" (an empty name). Nothing is offered from this "
                "list."},
        BadList{"header_library_outside", {"0,Upgrade.PART,../A.SYMBOL,b,c,d,e"},
                "Unsafe name in the upgrade list %LIST%, line 1: \"../A.SYMBOL\" (a path separator). Nothing is "
                "offered from this list."}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ListReaderTest, AMissingListFailsWithCodeNine) {
    App& app = Start();
    app.window.main.F_lstdir.SetPath(m_upgrade.Path());
    F_lstok_Click(app);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Make sure that Upgrade files are in the specified path :  " +
                                                   ListFile()});
}

// A list that fails half-way offers nothing of it: the grid goes on offering the list loaded before,
// and an update then works on that list's rows.
TEST_F(ListReaderTest, AListThatFailsHalfWayLeavesTheListLoadedBefore) {
    App& app = Load({kHeader, "1,0,1,OLD,L.PART"});
    ASSERT_TRUE(Loaded());
    app.window.main.F_Msg.SetVisible(false);
    app.window.main.F_lstfrm.SetVisible(true);
    Load({kHeader, "1,0,1,A,L.PART", "1,0,1,B,M.PART", "1,0,1,C"});
    EXPECT_FALSE(Loaded());
    EXPECT_EQ(app.window.main.F_Preferen.TextMatrix(1, 0), "OLD");
    EXPECT_EQ(app.window.main.F_Preferen.TextMatrix(1, 1), "L.PART");
    ASSERT_EQ(app.upgrade.loaded.Count(kPartRecord), 1u);
    CollectSelection(app.upgrade.lists, app.upgrade.GridRows,
                     GridSelection(app.window.main.F_Preferen, app.upgrade.GridRows.size() - 1));
    ASSERT_EQ(app.upgrade.lists.PartItems.size(), 1u);
    EXPECT_EQ(app.upgrade.lists.PartItems[0].Name, "OLD");
}

TEST_F(ListReaderTest, TheRootFolderGivesAListPathWithoutTrailingSeparator) {
    App& app = Start();
    app.window.main.F_lstdir.SetPath("/");
    F_lstok_Click(app);
    EXPECT_EQ(app.upgrade.ListPath, "");
    EXPECT_EQ(BoxTexts().at(0), "Make sure that Upgrade files are in the specified path :  /Upgrade.lst");
}

}  // namespace
}  // namespace zrx
