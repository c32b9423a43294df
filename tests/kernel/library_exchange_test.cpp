#include "kernel/library_exchange.h"

#include <gtest/gtest.h>

#include "support/folder.h"
#include "support/kernel_fixture.h"

namespace zrx {
namespace {

using test::KernelTest;

TEST_F(KernelTest, ExportImportExportGivesTheSameDocument) {
    const std::string parts = MakePartLibrary("a.PART", Part("7400", "QUAD NAND") + "," + Part("74LS04", "HEX INV"));
    const std::string symbols = MakeSymbolLibrary("a.SYMBOL", Sym("Q2N2222", 3) + "," + Sym("NAND", 1));
    for (const std::string& path : {parts, symbols}) {
        const auto first = ExportLibrary(path);
        ASSERT_TRUE(first) << first.Why();
        const std::string copy = path + ".copy";
        const Outcome imported = ImportLibrary(copy, *first);
        ASSERT_TRUE(imported) << imported.Why();
        EXPECT_EQ(*ExportLibrary(copy), *first);
    }
}

TEST_F(KernelTest, ImportAddsOrReplacesByName) {
    const std::string path = MakePartLibrary("r.PART", Part("A", "old") + "," + Part("B", "keep"));
    ASSERT_TRUE(ImportLibrary(
        path, R"({"kind":"ZarnixDLL00","elements":[)" + Part("A", "new") + "," + Part("C") + "]}"));
    EXPECT_EQ(*ListLibrary(path), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_NE(ExportElement(path, "A")->find("\"new\""), std::string::npos);
    EXPECT_NE(ExportElement(path, "B")->find("\"keep\""), std::string::npos);
}

struct BadImport {
    const char* name;
    const char* json;
    const char* message;
};

// CTest lists the case by its name, not by its bytes.
void PrintTo(const BadImport& value, std::ostream* out) { *out << value.name; }

class BadImportTest : public KernelTest, public ::testing::WithParamInterface<BadImport> {};

TEST_P(BadImportTest, IsRefusedWithAReasonAndChangesNothing) {
    const std::string path = MakePartLibrary("keep.PART", Part("A"));
    E_FlushLibraries();
    const std::string before = test::Fingerprint(path);
    const std::string error = test::WhyFailed(ImportLibrary(path, GetParam().json));
    EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
    EXPECT_EQ(test::Fingerprint(path), before);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, BadImportTest,
    ::testing::Values(
        BadImport{"syntax", "{\"kind\": \"ZarnixDLL00\",\n  \"elements\": [}", "line 2, column 16"},
        BadImport{"wrong_kind_for_file", R"({"kind":"ZarnixSLL00","elements":[]})", "the file a ZarnixDLL00"},
        BadImport{"unknown_kind", R"({"kind":"Foo","elements":[]})", "is neither"},
        BadImport{"symbol_in_part_library", R"({"kind":"ZarnixDLL00","elements":[{"name":"x","symbol":{}}]})",
                  "holds devices"},
        BadImport{"empty_name", R"({"kind":"ZarnixDLL00","elements":[{"name":" ","device":{}}]})",
                  "elements[0].name: must not be empty"},
        BadImport{"pin_number_text",
                  R"({"kind":"ZarnixDLL00","elements":[{"name":"x","device":{"text1":"","text2":"","supply_pins":[{"number":"1","name":"V"}],"groups":[]}}]})",
                  "supply_pins[0].number: expected a whole number"},
        BadImport{"number_too_big",
                  R"({"kind":"ZarnixDLL00","elements":[{"name":"x","device":{"text1":"","text2":"","supply_pins":[{"number":4294967296,"name":"V"}],"groups":[]}}]})",
                  "out of range"},
        BadImport{"nul_in_name", R"({"kind":"ZarnixDLL00","elements":[{"name":"a\u0000b","device":{}}]})", "NUL"},
        BadImport{"not_an_object", "[1,2]", "must be an object"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(KernelTest, EveryLibCommandRefusesAFileThatIsNotALibrary) {
    test::WriteFile(m_dir / "X.PART", "not a library at all");
    const std::string path = m_dir / "X.PART";
    EXPECT_NE(test::WhyFailed(ListLibrary(path)).find("is not a library"), std::string::npos);
    EXPECT_FALSE(ExportLibrary(path));
    EXPECT_FALSE(ExportElement(path, "A"));
    EXPECT_FALSE(ImportLibrary(path, R"({"kind":"ZarnixDLL00","elements":[]})"));
    EXPECT_FALSE(CreateLibrary(path, LibraryKind::Part));
    EXPECT_EQ(test::ReadFile(path), "not a library at all");
}

}  // namespace
}  // namespace zrx
