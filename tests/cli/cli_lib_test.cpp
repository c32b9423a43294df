#include <gtest/gtest.h>

#include "support/run_cli.h"

namespace zrx {
namespace {

using test::RunCli;

constexpr const char* kParts = R"({"kind": "ZarnixDLL00", "elements": [
  {"name": "7400", "device": {"text1": "QUAD NAND", "text2": "TTL",
    "supply_pins": [{"number": 14, "name": "VCC"}, {"number": 7, "name": "GND"}],
    "groups": [{"name": "A", "text2": "NAND2", "pins": [{"number": 1, "name": "A"}, {"number": 2, "name": "B"}, {"number": 3, "name": "Y"}]}]}},
  {"name": "74HC04", "device": {"text1": "HEX INVERTER", "text2": "HC", "supply_pins": [], "groups": []}}
]})";

TEST(CliLibTest, ImportThenExportGivesTheElementsBack) {
    test::TempDir dir;
    test::WriteFile(dir / "in.json", kParts);
    ASSERT_EQ(RunCli({"lib", "import", dir / "X.PART", dir / "in.json"}).status, 0);
    const auto listed = RunCli({"lib", "ls", dir / "X.PART"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "7400\n74HC04\n");
    const auto exported = RunCli({"lib", "export", dir / "X.PART"});
    ASSERT_EQ(exported.status, 0);
    test::WriteFile(dir / "out.json", exported.out);
    ASSERT_EQ(RunCli({"lib", "import", dir / "Y.PART", dir / "out.json"}).status, 0);
    EXPECT_EQ(RunCli({"lib", "export", dir / "Y.PART"}).out, exported.out);
    const auto shown = RunCli({"lib", "show", dir / "X.PART", "7400"});
    EXPECT_NE(shown.out.find("\"QUAD NAND\""), std::string::npos);
    EXPECT_EQ(RunCli({"lib", "show", dir / "X.PART", "none"}).status, 2);
}

TEST(CliLibTest, EveryCommandRefusesANonLibraryAndLeavesItUnchanged) {
    test::TempDir dir;
    test::WriteFile(dir / "X.PART", "just some text\n");
    test::WriteFile(dir / "in.json", kParts);
    const std::string before = test::Fingerprint(dir / "X.PART");
    const std::vector<std::vector<std::string>> commands = {{"lib", "ls", dir / "X.PART"},
                                                            {"lib", "show", dir / "X.PART", "7400"},
                                                            {"lib", "export", dir / "X.PART"},
                                                            {"lib", "import", dir / "X.PART", dir / "in.json"},
                                                            {"lib", "new", dir / "X.PART", "--kind", "part"}};
    for (const auto& command : commands) {
        const auto result = RunCli(command);
        EXPECT_EQ(result.status, 2) << command[1];
        EXPECT_FALSE(result.err.empty()) << command[1];
    }
    EXPECT_EQ(test::Fingerprint(dir / "X.PART"), before);
}

TEST(CliLibTest, BadJsonNamesLineAndColumnAndCreatesNothing) {
    test::TempDir dir;
    test::WriteFile(dir / "bad.json", "{\"kind\": \"ZarnixDLL00\",\n \"elements\": [\n  {\"name\": }\n]}");
    const auto result = RunCli({"lib", "import", dir / "new.PART", dir / "bad.json"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("line 3, column 12"), std::string::npos) << result.err;
    EXPECT_EQ(test::Fingerprint(dir / "new.PART"), "missing");
}

TEST(CliLibTest, NewMakesAnEmptyLibraryOfTheKind) {
    test::TempDir dir;
    EXPECT_EQ(RunCli({"lib", "new", dir / "A.SYMBOL", "--kind", "symbol"}).status, 0);
    EXPECT_EQ(RunCli({"lib", "ls", dir / "A.SYMBOL"}).out, "");
    EXPECT_EQ(RunCli({"lib", "new", dir / "A.SYMBOL", "--kind", "symbol"}).status, 2);
    EXPECT_EQ(RunCli({"lib", "new", dir / "B.PART", "--kind", "other"}).status, 2);
    EXPECT_EQ(RunCli({}).status, 2);
}

}  // namespace
}  // namespace zrx
