#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <map>

#include "support/run_cli.h"

namespace zrx {
namespace {

using test::RunCli;

class CliDiffTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(RunCli({"demo", m_dir.Path()}).status, 0); }
    std::string Suite() const { return m_dir / "suite"; }
    std::string Upgrade() const { return m_dir / "upgrade"; }
    test::TempDir m_dir;
};

TEST_F(CliDiffTest, BeforeAnApplyRowsDifferAndAfterItEveryRowIsTheSame) {
    const auto before = RunCli({"diff", "--suite", Suite(), Upgrade()});
    EXPECT_EQ(before.status, 1);
    EXPECT_NE(before.out.find("new\t74HC08\tLogic.PART\t" + Suite() + "/LIB\tYES\tPart file\n"),
              std::string::npos)
        << before.out;
    EXPECT_NE(before.out.find("changed\t7400\tLogic.PART\t"), std::string::npos);
    EXPECT_NE(before.out.find("same\tNAND2\tLogic.SYMBOL\t"), std::string::npos);
    // Line for line the grid that show prints, each with its change in front.
    const auto shown = RunCli({"show", "--suite", Suite(), Upgrade()});
    std::string stripped;
    for (size_t start = 0; start < before.out.size();) {
        const size_t end = before.out.find('\n', start);
        const std::string line = before.out.substr(start, end - start);
        stripped += line.substr(line.find('\t') + 1) + "\n";
        start = end + 1;
    }
    EXPECT_EQ(stripped, shown.out);

    ASSERT_EQ(RunCli({"apply", "--suite", Suite(), "--yes", Upgrade()}).status, 0);
    const auto after = RunCli({"diff", "--suite", Suite(), Upgrade()});
    EXPECT_EQ(after.status, 0) << after.out;
    EXPECT_EQ(RunCli({"diff", "--suite", Suite(), m_dir / "nowhere"}).status, 2);
}

TEST_F(CliDiffTest, ADryRunPrintsTheRowsItWouldTouchAndChangesNothing) {
    const std::string before = test::TreeSnapshot(Suite());
    const auto dry =
        RunCli({"apply", "--suite", Suite(), "--dry-run", "--only", "7400", "--only", "NAND2", Upgrade()});
    EXPECT_EQ(dry.status, 1);
    EXPECT_EQ(dry.out, "changed\t7400\tLogic.PART\t" + Suite() +
                           "/LIB\tYES\tPart file\nsame\tNAND2\tLogic.SYMBOL\t" + Suite() +
                           "/LIB\tYES\tSymbol\n");
    EXPECT_EQ(RunCli({"apply", "--suite", Suite(), "--dry-run", "--only", "NAND2", Upgrade()}).status, 0);
    EXPECT_EQ(RunCli({"apply", "--suite", Suite(), "--dry-run", "--skip-same", Upgrade()}).out.find("same\t"),
              std::string::npos);
    EXPECT_EQ(test::TreeSnapshot(Suite()), before);
}

// --detail names each differing field of a changed element by its path, and gives a changed
// text file as a unified diff; --only keeps the rows of those names, and the exit status follows them.
TEST_F(CliDiffTest, TheDetailNamesTheFieldsAndLinesThatDiffer) {
    const auto text = RunCli({"diff", "--suite", Suite(), "--detail", "--only", "7400", "--only",
                              "heatsink.TAL", "--only", "NAND2", Upgrade()});
    EXPECT_EQ(text.status, 1);
    EXPECT_EQ(text.out,
              "changed\t7400\tLogic.PART\t" + Suite() +
                  "/LIB\tYES\tPart file\n"
                  "  device.text1: QUAD 2-INPUT NAND -> QUAD 2-INPUT NAND GATE\n"
                  "same\tNAND2\tLogic.SYMBOL\t" +
                  Suite() +
                  "/LIB\tYES\tSymbol\n"
                  "changed\theatsink.TAL\t" +
                  Suite() + "/LIB\t" + Suite() +
                  "/LIB\tYES\tThermal analyzer file\n"
                  "  --- installed\n  +++ upgrade\n  @@ -1,2 +1,2 @@\n  -TAL 1\n  -HEATSINK TO220 12.5 K/W\n"
                  "  +TAL 2\n  +HEATSINK TO220 9.8 K/W\n");
    const auto json = nlohmann::json::parse(
        RunCli({"diff", "--suite", Suite(), "--detail", "--json", "--only", "7400", Upgrade()}).out);
    ASSERT_EQ(json["rows"].size(), 1u);
    EXPECT_EQ(json["rows"][0]["detail"]["fields"][0],
              (nlohmann::json{{"path", "device.text1"},
                              {"installed", "QUAD 2-INPUT NAND"},
                              {"upgrade", "QUAD 2-INPUT NAND GATE"}}));
    EXPECT_EQ(RunCli({"diff", "--suite", Suite(), "--only", "NAND2", Upgrade()}).status, 0);
}

// An element or file edited here since the upgrade that installed it is told apart from one as
// installed; before any recorded run, and after that run is rolled back, there is no base.
TEST_F(CliDiffTest, EditsHereAreToldFromWhatTheLastUpgradeInstalled) {
    const auto localOf = [this](const std::string& name) {
        const auto json = nlohmann::json::parse(
            RunCli({"diff", "--suite", Suite(), "--json", "--only", name, Upgrade()}).out);
        return json["rows"][0].value("local", std::string());
    };
    EXPECT_EQ(localOf("7400"), "no base");
    ASSERT_EQ(RunCli({"apply", "--suite", Suite(), "--yes", Upgrade()}).status, 0);
    EXPECT_EQ(localOf("7400"), "");
    EXPECT_EQ(localOf("heatsink.TAL"), "");
    test::WriteFile(
        m_dir / "edit.json",
        R"({"kind":"ZarnixDLL00","elements":[{"name":"7400","device":{"text1":"FIXED HERE","text2":"",)"
        R"("supply_pins":[],"groups":[]}}]})");
    ASSERT_EQ(RunCli({"lib", "import", Suite() + "/LIB/Logic.PART", m_dir / "edit.json"}).status, 0);
    test::WriteFile(Suite() + "/LIB/heatsink.TAL",
                    test::ReadFile(Suite() + "/LIB/heatsink.TAL") + "; a note\r\n");
    EXPECT_EQ(localOf("7400"), "edited");
    EXPECT_EQ(localOf("heatsink.TAL"), "edited");
    EXPECT_EQ(localOf("NAND2"), "");
    EXPECT_NE(RunCli({"diff", "--suite", Suite(), "--detail", "--only", "7400", Upgrade()})
                  .out.find("  edited here since the last upgrade"),
              std::string::npos);
    // Kept on purpose: the run leaves it, the summary says so, and that is no failure.
    const auto kept = RunCli({"apply", "--suite", Suite(), "--yes", "--keep-edited", "--json", "--only",
                              "7400", "--only", "NAND2", Upgrade()});
    EXPECT_EQ(kept.status, 0) << kept.out;
    std::map<std::string, std::string> status;
    const auto document = nlohmann::json::parse(kept.out);
    for (const auto& row : document["rows"])
        status[row["element"].get<std::string>()] = row["status"].get<std::string>();
    EXPECT_EQ(status["7400"], "kept");
    EXPECT_EQ(status["NAND2"], "copied");
    EXPECT_EQ(status["74HC08"], "skipped");
    EXPECT_EQ(localOf("7400"), "edited");
    ASSERT_EQ(RunCli({"rollback", "--suite", Suite(), "--force"}).status, 0);
    EXPECT_EQ(localOf("7400"), "no base");
}

TEST_F(CliDiffTest, JsonDocumentsReadBack) {
    const auto diff = RunCli({"diff", "--suite", Suite(), "--json", Upgrade()});
    EXPECT_EQ(diff.status, 1);
    const auto document = nlohmann::json::parse(diff.out);
    EXPECT_EQ(document["exit_status"], 1);
    ASSERT_GE(document["rows"].size(), 2u);
    EXPECT_EQ(document["rows"][0]["element"], "74HC08");
    EXPECT_EQ(document["rows"][0]["kind"], "part");
    EXPECT_EQ(document["rows"][0]["change"], "new");
    EXPECT_EQ(document["rows"][0]["directory"], Suite() + "/LIB");

    const auto shown = nlohmann::json::parse(RunCli({"show", "--suite", Suite(), "--json", Upgrade()}).out);
    EXPECT_EQ(shown["rows"].size(), document["rows"].size());
    EXPECT_EQ(shown["rows"][1]["file_type"], "Part file");

    const auto applied =
        RunCli({"apply", "--suite", Suite(), "--yes", "--json", "--only", "7400", Upgrade()});
    EXPECT_EQ(applied.status, 0);
    const auto result = nlohmann::json::parse(applied.out);
    EXPECT_EQ(result["exit_status"], 0);
    EXPECT_EQ(result["rows"][0]["status"], "skipped");
    EXPECT_EQ(result["rows"][1]["element"], "7400");
    EXPECT_EQ(result["rows"][1]["status"], "copied");
    EXPECT_EQ(result["rows"][1]["change"], "changed");  // as it stood before the run
}

TEST_F(CliDiffTest, SelectionFilesNameTheRowsLikeRepeatedOptions) {
    test::WriteFile(m_dir / "only.txt", "# the two parts\r\n7400\r\n\n   \nLM393\n");
    test::WriteFile(m_dir / "skip.txt", "LM393\n");
    const auto dry = RunCli({"apply", "--suite", Suite(), "--dry-run", "--only-from", m_dir / "only.txt",
                             "--skip-from", m_dir / "skip.txt", Upgrade()});
    EXPECT_EQ(dry.out, "changed\t7400\tLogic.PART\t" + Suite() + "/LIB\tYES\tPart file\n");
    const auto missing =
        RunCli({"apply", "--suite", Suite(), "--yes", "--only-from", m_dir / "none.txt", Upgrade()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("none.txt: cannot be read"), std::string::npos);
}

}  // namespace
}  // namespace zrx
