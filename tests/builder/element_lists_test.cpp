#include <gtest/gtest.h>

#include "builder/builder_lists.h"
#include "program/builder_page.h"
#include "support/upgrade_fixture.h"

namespace zrx {
namespace {

using test::MakeLibrary;
using test::PartJson;
using test::SymbolJson;

class ElementListsTest : public test::AppTest {
protected:
    void SetUp() override {
        MakeLibrary(m_suite / "LIB/Logic.PART", true, {PartJson("7400"), PartJson("7404"), PartJson("7408")});
        MakeLibrary(m_suite / "LIB/Analog.PART", true, {PartJson("LM741"), PartJson("7400")});
        MakeLibrary(m_suite / "LIB/Logic.SYMBOL", false, {SymbolJson("NAND", 1, {}), SymbolJson("NOR", 1, {})});
        App& app = Start(true);
        app.window.main.F_EDLlist.Refresh();
        app.window.main.F_ESLlist.Refresh();
    }
    App& A() { return *m_app; }
    void ChooseLibrary(int kind, const std::string& file) {
        ui::FileList& list = *A().window.main.LibraryFrameOf(kind).libraries;
        for (int i = 0; i < list.ListCount(); ++i)
            if (list.List(i) == file) return list.UserSelect({i}, i);
        FAIL() << file;
    }
    void SelectElements(int kind, const std::vector<std::string>& names) {
        ui::ListBox& list = *A().window.main.LibraryFrameOf(kind).elements;
        for (int i = 0; i < list.ListCount(); ++i)
            list.SetSelected(i, std::find(names.begin(), names.end(), list.List(i)) != names.end());
    }
    void Move(int kind, const std::string& file, const std::vector<std::string>& names) {
        ChooseLibrary(kind, file);
        SelectElements(kind, names);
        A().window.main.LibraryFrameOf(kind).move->Click();
    }
    void Remove(int kind, int line) {
        ui::ListBox& chosen = *A().window.main.LibraryFrameOf(kind).chosen;
        chosen.UserSelect({line}, line);
        A().window.main.LibraryFrameOf(kind).remove->Click();
    }
    // Entry i of the chosen table belongs to line i of the chosen list, with one spare element; the
    // window's list shows the builder's lines.
    void ExpectInStep(int kind) {
        const LibraryKindTables t = TablesOfKind(A().builder, A().installation.env, kind);
        const ui::ListBox& shown = *A().window.main.LibraryFrameOf(kind).chosen;
        EXPECT_EQ(shown.Items(), A().builder.chosen[static_cast<size_t>(kind)].Lines());
        ASSERT_EQ(t.chosen->size(), static_cast<size_t>(shown.ListCount()) + 1);
        for (int i = 0; i < shown.ListCount(); ++i) EXPECT_EQ((*t.chosen)[static_cast<size_t>(i)].Name, shown.List(i));
        EXPECT_EQ(t.chosen->back().Name, "");
        EXPECT_EQ(t.sources->back().FileName, "");
        std::vector<int32_t> refs(t.sources->size(), 0);
        for (size_t i = 0; i + 1 < t.chosen->size(); ++i) ++refs[static_cast<size_t>((*t.chosen)[i].SourceIndex)];
        for (size_t i = 0; i < t.sources->size(); ++i) EXPECT_EQ((*t.sources)[i].RefCount, refs[i]) << i;
    }
};

TEST_F(ElementListsTest, ALibraryListsItsElementsInTheKernelsOrder) {
    ChooseLibrary(kParts, "Logic.PART");
    EXPECT_EQ(A().window.main.F_Devitem.Items(), (std::vector<std::string>{"7400", "7404", "7408"}));
    // A library that cannot be opened clears the list without a message.
    test::WriteFile(m_suite / "LIB/Broken.PART", "no library");
    A().window.main.F_EDLlist.Refresh();
    ChooseLibrary(kParts, "Broken.PART");
    EXPECT_TRUE(A().window.main.F_Devitem.Items().empty());
    EXPECT_TRUE(m_dialogs.Boxes().empty());
}

TEST_F(ElementListsTest, PartsAreChosenOnceWithoutRegardToCaseAndKeepTheirFirstSource) {
    Move(kParts, "Logic.PART", {"7400", "7404"});
    Move(kParts, "Logic.PART", {"7400"});
    Move(kParts, "Analog.PART", {"7400", "LM741"});
    EXPECT_EQ(A().window.main.F_Devlist.Items(), (std::vector<std::string>{"7400", "7404", "LM741"}));
    const BuilderTables& t = A().builder.tables;
    EXPECT_EQ(t.PartSources[0].FileName, "Logic.PART");
    EXPECT_EQ(t.PartSources[0].Dir, m_suite / "LIB");
    EXPECT_EQ(t.PartSources[0].RefCount, 2);
    EXPECT_EQ(t.PartSources[1].FileName, "Analog.PART");
    EXPECT_EQ(t.UpgParts[0].SourceIndex, 0);
    EXPECT_EQ(t.UpgParts[2].SourceIndex, 1);
    ExpectInStep(kParts);
}

TEST_F(ElementListsTest, ASymbolCanBeChosenTwice) {
    Move(kSymbols, "Logic.SYMBOL", {"NAND"});
    Move(kSymbols, "Logic.SYMBOL", {"NAND"});
    EXPECT_EQ(A().window.main.F_Slist.Items(), (std::vector<std::string>{"NAND", "NAND"}));
    EXPECT_EQ(A().builder.tables.SymbolSources[0].RefCount, 2);
    EXPECT_EQ(A().builder.tables.UpgSymbols[1].SourceIndex, 0);
    ExpectInStep(kSymbols);
}

TEST_F(ElementListsTest, AFreedSourceEntryIsReusedByTheNextLibrary) {
    Move(kParts, "Logic.PART", {"7404", "7408"});
    Remove(kParts, 1);
    ExpectInStep(kParts);
    Remove(kParts, 0);
    ExpectInStep(kParts);
    EXPECT_EQ(A().builder.tables.PartSources.size(), 2u);
    EXPECT_EQ(A().builder.tables.PartSources[0].RefCount, 0);
    Move(kParts, "Analog.PART", {"LM741"});
    EXPECT_EQ(A().builder.tables.PartSources.size(), 2u);  // reused, not grown
    EXPECT_EQ(A().builder.tables.PartSources[0].FileName, "Analog.PART");
    ExpectInStep(kParts);
    // Removing with nothing selected does nothing.
    A().window.main.F_Devlist.SetListIndex(-1);
    A().window.main.F_Remitem.Click();
    EXPECT_EQ(A().window.main.F_Devlist.ListCount(), 1);
}

TEST_F(ElementListsTest, AtMost8000SelectedNamesAreMoved) {
    std::vector<std::string> many;
    for (int i = 0; i < 8100; ++i) many.push_back(PartJson("P" + std::to_string(10000 + i)));
    MakeLibrary(m_suite / "LIB/Big.PART", true, many);
    A().window.main.F_EDLlist.Refresh();
    ChooseLibrary(kParts, "Big.PART");
    ui::ListBox& elements = A().window.main.F_Devitem;
    ASSERT_EQ(elements.ListCount(), 8100);
    for (int i = 0; i < elements.ListCount(); ++i) elements.SetSelected(i, true);
    A().window.main.F_Move.Click();
    EXPECT_EQ(A().window.main.F_Devlist.ListCount(), 8000);
    EXPECT_EQ(A().window.main.F_Devlist.List(7999), "P17999");
    ExpectInStep(kParts);
}

TEST_F(ElementListsTest, RemoveListEntryShiftsTheEntriesDown) {
    Move(kParts, "Logic.PART", {"7400", "7404", "7408"});
    RemoveListEntry(A().builder.tables, kRemoveParts, 0, 0);  // a count of 0: nothing
    EXPECT_EQ(A().builder.tables.UpgParts.size(), 4u);
    RemoveListEntry(A().builder.tables, kRemoveParts, 3, 1);
    ASSERT_EQ(A().builder.tables.UpgParts.size(), 3u);
    EXPECT_EQ(A().builder.tables.UpgParts[1].Name, "7408");
    EXPECT_EQ(A().builder.tables.UpgParts[2].Name, "");
}

}  // namespace
}  // namespace zrx
