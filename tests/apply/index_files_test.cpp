#include "apply/index_files.h"

#include <gtest/gtest.h>

#include "support/upgrade_fixture.h"

namespace zrx {
namespace {

using Lines = std::vector<std::string>;

TEST(NormaliseNetLineTest, RebuildsTheLineBlankByBlank) {
    EXPECT_EQ(NormaliseNetLine(".SUBCKT   UA741 1 2"), ".SUBCKT UA741 1 2");
    EXPECT_EQ(NormaliseNetLine(" .SUBCKT X"), " .SUBCKT X");
    EXPECT_EQ(NormaliseNetLine("R=10k"), "R= 10k");
    EXPECT_EQ(NormaliseNetLine("R = 10k"), "R= 10k");
    EXPECT_EQ(NormaliseNetLine("R=  10k"), "R= 10k");
    EXPECT_EQ(NormaliseNetLine("X(1,2)Y"), "X ( 1,2 ) Y");
    EXPECT_EQ(NormaliseNetLine("X[a]"), "X [ a ]");
    EXPECT_EQ(NormaliseNetLine("A\tB\xE9" "C"), "A B C");
    EXPECT_EQ(NormaliseNetLine(""), "");
}

TEST(SplitWordsTest, CutsAtEverySingleBlank) {
    EXPECT_EQ(SplitWords(".SUBCKT UA741 1"), (Lines{".SUBCKT", "UA741", "1"}));
    EXPECT_EQ(SplitWords(" .SUBCKT UA741"), (Lines{"", ".SUBCKT", "UA741"}));
    EXPECT_EQ(SplitWords("A "), (Lines{"A", ""}));
    EXPECT_EQ(SplitWords(""), (Lines{""}));
}

class IndexFileTest : public ::testing::Test {
protected:
    std::string Path() const { return m_dir / "modpar.idx"; }
    std::unique_ptr<IndexFile> Load(IndexFile::Kind kind = IndexFile::Kind::ModelIndex) {
        return IndexFile::Load(Path(), kind);
    }
    test::TempDir m_dir;
};

TEST_F(IndexFileTest, AnEntryGoesRightAfterTheFirstLineOfItsLibraryOrAtTheEnd) {
    test::WriteFile(Path(), "A||LIB1|m1|x\r\nA||LIB2|m2|x\r\nA||LIB1|m3|x\r\n");
    auto index = Load();
    EXPECT_TRUE(index->Add("N||LIB1|n1|y", "LIB1"));
    EXPECT_TRUE(index->Add("N||LIB1|n2|y", "LIB1"));
    EXPECT_TRUE(index->Add("N||LIB3|n3|y", "LIB3"));
    EXPECT_TRUE(index->Add("N||LIB3|n4|y", "LIB3"));
    EXPECT_TRUE(index->Add("N||LIB2|n5|y", "lib2"));  // libraries compare in upper case
    ASSERT_TRUE(index->Save());
    EXPECT_EQ(test::ReadFile(Path()),
              "A||LIB1|m1|x\r\nN||LIB1|n2|y\r\nN||LIB1|n1|y\r\nA||LIB2|m2|x\r\nN||LIB2|n5|y\r\nA||LIB1|m3|x\r\n"
              "N||LIB3|n3|y\r\nN||LIB3|n4|y\r\n");
}

TEST_F(IndexFileTest, APresentEntryLeavesTheFileByteForByte) {
    const std::string content = "A||LIB1|m1|x\n\n   \nA||LIB2|m2|x";  // LF ends, a blank line, no final line end
    test::WriteFile(Path(), content);
    auto index = Load();
    EXPECT_FALSE(index->Add("A||LIB1|m1|x", "LIB1"));
    EXPECT_TRUE(index->Save());
    EXPECT_EQ(test::ReadFile(Path()), content);
}

TEST_F(IndexFileTest, BlankLinesAreDroppedOnRewrite) {
    test::WriteFile(Path(), "A||L|m1|x\r\n\r\n\r\nA||M|m2|x\r\n");
    auto index = Load();
    index->Add("B||M|m3|y", "M");
    index->Save();
    EXPECT_EQ(test::ReadFile(Path()), "A||L|m1|x\r\nA||M|m2|x\r\nB||M|m3|y\r\n");
}

TEST_F(IndexFileTest, EntriesForTheFirstLibraryOrAnEmptyIndexAreWrittenButNoIndexIsMade) {
    test::WriteFile(Path(), "A||L|m1|x\r\n");
    auto index = Load();
    index->Add("B||L|m2|y", "L");
    index->Save();
    EXPECT_EQ(test::ReadFile(Path()), "A||L|m1|x\r\nB||L|m2|y\r\n");

    test::WriteFile(Path(), "\r\n");
    index = Load();
    index->Add("B||L|m2|y", "L");
    index->Save();
    EXPECT_EQ(test::ReadFile(Path()), "B||L|m2|y\r\n");

    std::filesystem::remove(Path());
    EXPECT_FALSE(Load());
}

TEST_F(IndexFileTest, AnEntryWithLineBreaksStaysOneLine) {
    // A model text from an upgrade library must not add lines of its own to the index.
    test::WriteFile(Path(), "A||LIB|m1|x\r\n");
    auto index = Load();
    EXPECT_TRUE(index->Add("Q||LIB|m2|first\r\nFAKE||OTHER|m9|\rz\n", "LIB"));
    EXPECT_FALSE(index->Add("Q||LIB|m2|first  FAKE||OTHER|m9| z ", "LIB"));  // the same line now
    ASSERT_TRUE(index->Save());
    EXPECT_EQ(test::ReadFile(Path()), "A||LIB|m1|x\r\nQ||LIB|m2|first  FAKE||OTHER|m9| z \r\n");
}

TEST_F(IndexFileTest, SubcircuitLinesCompareTrimmedAndTheLibraryIsFieldFive) {
    test::WriteFile(Path(), "X|A|library|a|OPAMPS| Opamp\r\nX|B|library|b|REGS| Regulator\r\n");
    auto index = Load(IndexFile::Kind::SubcircuitIndex);
    EXPECT_FALSE(index->Add("  X|A|library|a|OPAMPS| Opamp ", "OPAMPS"));
    EXPECT_TRUE(index->Add("X|C|library|c|REGS| Regulator", " REGS "));
    index->Save();
    EXPECT_EQ(test::ReadFile(Path()),
              "X|A|library|a|OPAMPS| Opamp\r\nX|B|library|b|REGS| Regulator\r\nX|C|library|c|REGS| Regulator\r\n");
}

// Adding many entries at once gives the file that adding them one by one (each a load, an
// addition and a save) gives, also when texts hold the field separator.
TEST_F(IndexFileTest, ManyAdditionsEqualOneAtATime) {
    const std::string start = "A||L1|m|x\r\nA||L2|m|x\r\nB|x||L3|odd|y\r\nA||L1|m2|x\r\n";
    std::vector<std::pair<std::string, std::string>> entries;
    for (int i = 0; i < 60; ++i) {
        const std::string lib = "L" + std::to_string(i % 5);
        const std::string text = i % 7 == 0 ? "T|" + lib : "T";  // some shift their fields
        entries.emplace_back(text + "||" + lib + "|e" + std::to_string(i) + "|z", lib);
    }
    entries.emplace_back(entries[3]);  // a repeat
    // An entry whose texts hold "|" so that its library field names L2, added under L1: it goes
    // after L1's first line, before L2's, and so becomes L2's first line; the next L2 entry
    // follows it.
    entries.emplace_back("T||L2||L1|moved|z", "L1");
    entries.emplace_back("N||L2|after-moved|y", "L2");
    test::WriteFile(Path(), start);
    for (const auto& [entry, lib] : entries) {
        auto one = Load();
        one->Add(entry, lib);
        one->Save();
    }
    const std::string oneByOne = test::ReadFile(Path());
    test::WriteFile(Path(), start);
    auto all = Load();
    for (const auto& [entry, lib] : entries) all->Add(entry, lib);
    all->Save();
    EXPECT_EQ(test::ReadFile(Path()), oneByOne);
}

TEST_F(IndexFileTest, AnEntryThatBecomesTheFirstLineOfAnotherLibraryLeadsThatLibrary) {
    test::WriteFile(Path(), "A||L1|m|x\r\nA||L2|m|x\r\n");
    auto index = Load();
    index->Add("T||L2||L1|moved|z", "L1");
    index->Add("N||L2|next|y", "L2");
    index->Save();
    EXPECT_EQ(test::ReadFile(Path()), "A||L1|m|x\r\nT||L2||L1|moved|z\r\nN||L2|next|y\r\nA||L2|m|x\r\n");
}

class IndexRunTest : public test::UpgradeTest {};

TEST_F(IndexRunTest, SubcircuitsAndCopiedModelsGetTheirLines) {
    test::WriteFile(m_upgrade / "LM2596.SBC", ".SUBCKT  LM2596 VIN OUT, macro\r\n*Step-down regulator , Regulator \r\n");
    test::WriteFile(m_upgrade / "bad.sbc", "only one line\r\n");
    test::WriteFile(m_suite / "ZSM_SBK/Subcir.idx", "X|LM7805|library|5V regulator|REGS| Regulator\r\n");
    test::WriteFile(m_suite / "ZSM_MOD/modpar.idx", "D||DIODES|D1|d\r\nQ||BIP|Q1|q\r\n");
    test::MakeLibrary(m_upgrade / "Upgrade.SPARAM", false,
                      {test::ModelJson("D2", "D,diode", "fast"), test::ModelJson("J1", "NJF,jfet", "j")});
    test::WriteFile(m_upgrade / "nodir.sbc", ".SUBCKT NODIR 1\r\n*No subdirectory, None\r\n");
    // A subcircuit record without a subdirectory is passed over; those after it are still indexed.
    WriteList({"4,0,6,nodir.sbc", "4,0,9,LM2596.SBC,regs", "4,0,9,bad.sbc,REGS", "5,0,5,D2,Diodes.sml",
               "5,0,5,J1,Vendor.SPARAM"});
    App& app = Open();
    Update(app);
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_SBK/Subcir.idx"),
              "X|LM7805|library|5V regulator|REGS| Regulator\r\nX|LM2596|library|Step-down regulator|REGS| Regulator\r\n");
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_MOD/modpar.idx"), "D||DIODES|D1|d\r\nD||DIODES|D2|fast\r\nQ||BIP|Q1|q\r\n");
    EXPECT_EQ(app.window.main.F_Status.Caption(), "Done");

    // The same upgrade again leaves both index files byte for byte.
    const std::string subcir = test::ReadFile(m_suite / "ZSM_SBK/Subcir.idx");
    const std::string modpar = test::ReadFile(m_suite / "ZSM_MOD/modpar.idx");
    app.window.main.F_Update.Click();
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_SBK/Subcir.idx"), subcir);
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_MOD/modpar.idx"), modpar);
}

// A missing index file is not made: the subcircuit pass ends, a model's line is skipped, and the
// subcircuits and models themselves are copied all the same.
TEST_F(IndexRunTest, AMissingIndexFileIsNotMade) {
    test::WriteFile(m_upgrade / "LM2596.SBC", ".SUBCKT LM2596 VIN OUT\r\n*Step-down regulator, Regulator\r\n");
    test::MakeLibrary(m_upgrade / "Upgrade.SPARAM", false, {test::ModelJson("D2", "D,diode", "fast")});
    WriteList({"4,0,9,LM2596.SBC,REGS", "5,0,5,D2,Diodes.sml"});
    App& app = Open();
    Update(app);
    EXPECT_FALSE(std::filesystem::exists(m_suite / "ZSM_SBK/Subcir.idx"));
    EXPECT_FALSE(std::filesystem::exists(m_suite / "ZSM_MOD/modpar.idx"));
    EXPECT_EQ(StatusOf("LM2596.SBC"), "Copied");
    EXPECT_EQ(StatusOf("D2"), "Copied");
}

}  // namespace
}  // namespace zrx
