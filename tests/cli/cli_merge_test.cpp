#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <set>

#include "support/run_cli.h"

namespace zrx {
namespace {

using test::RunCli;
using Json = nlohmann::json;

// A demo installation upgraded once (what that upgrade installed is the base of every merge), and a
// second upgrade folder, a copy of the first, that a test changes.
struct Upgraded {
    Upgraded() {
        EXPECT_EQ(RunCli({"demo", dir.Path()}).status, 0);
        std::filesystem::copy(dir / "upgrade", dir / "second", std::filesystem::copy_options::recursive);
    }
    std::string Suite() const { return dir / "suite"; }
    std::string Logic() const { return dir / "suite/LIB/Logic.PART"; }
    std::string Second() const { return dir / "second"; }
    test::TempDir dir;
};

Json Element(const std::string& library, const std::string& name) {
    const Json document = Json::parse(RunCli({"lib", "export", library}).out);
    for (const Json& element : document["elements"])
        if (element["name"] == name) return element;
    return {};
}

void Import(const test::TempDir& dir, const std::string& library, const Json& element) {
    test::WriteFile(dir / "import.json", Json{{"kind", "ZarnixDLL00"}, {"elements", {element}}}.dump());
    ASSERT_EQ(RunCli({"lib", "import", library, dir / "import.json"}).status, 0);
}

Json Rows(const std::vector<std::string>& args) {
    const Json document = Json::parse(RunCli(args).out);
    Json byName = Json::object();
    for (const Json& row : document["rows"]) byName[row["element"].get<std::string>()] = row;
    return byName;
}

// Fields of the demo's 7400 that both sides may edit, by the path a conflict names them with.
const std::vector<std::pair<std::string, Json::json_pointer>> kFields = {
    {"device.text1", Json::json_pointer("/device/text1")},
    {"device.text2", Json::json_pointer("/device/text2")},
    {"device.supply_pins[number=14].name", Json::json_pointer("/device/supply_pins/0/name")},
    {"device.groups[name=A].text2", Json::json_pointer("/device/groups/0/text2")},
    {"device.groups[name=A].pins[number=1].name", Json::json_pointer("/device/groups/0/pins/0/name")},
};

// Each field edited by nobody, here only, in the upgrade only, alike on both sides or differently:
// apply --merge takes each side's edits, refuses the element where a field was changed differently
// (naming exactly those fields, the element left as it was), and its rollback gives back the
// element edited here exactly.
RC_GTEST_PROP(CliMergeTest, MergeTakesEachSidesEditsAndRollbackGivesBackTheEditsHere, ()) {
    static Upgraded installed;
    // Every case's runs are kept: the first, which installed the base, stays.
    static const bool applied =
        RunCli({"history", "--suite", installed.Suite(), "--keep", "100000"}).status == 0 &&
        RunCli({"apply", "--suite", installed.Suite(), "--yes", installed.dir / "upgrade"}).status == 0;
    RC_ASSERT(applied);
    static const Json base = Element(installed.Logic(), "7400");
    Json local = base, upgrade = base, expected = base;
    std::set<std::string> conflicts;
    for (const auto& [path, pointer] : kFields) {
        const std::string mine = *rc::gen::element<std::string>("L1", "L2");
        const std::string theirs = *rc::gen::element<std::string>("U1", "U2");
        switch (*rc::gen::inRange(0, 5)) {
            case 1:  // edited here only
                local[pointer] = expected[pointer] = mine;
                break;
            case 2:  // by the upgrade only
                upgrade[pointer] = expected[pointer] = theirs;
                break;
            case 3:  // alike on both sides
                local[pointer] = upgrade[pointer] = expected[pointer] = theirs;
                break;
            case 4:  // differently
                local[pointer] = mine;
                upgrade[pointer] = theirs;
                conflicts.insert(path);
                break;
            default:
                break;
        }
    }
    Import(installed.dir, installed.Logic(), local);
    Import(installed.dir, installed.Second() + "/Upgrade.PART", upgrade);
    const Json before = Element(installed.Logic(), "7400");
    const auto newestRun = [] {
        const Json runs =
            Json::parse(RunCli({"history", "--suite", installed.Suite(), "--json"}).out)["runs"];
        return runs.empty() ? 0 : runs[0]["id"].get<int>();
    };
    const int lastRun = newestRun();
    const auto run = RunCli({"apply", "--suite", installed.Suite(), "--yes", "--merge", "--json", "--only",
                             "7400", installed.Second()});
    RC_LOG() << RunCli(
                    {"diff", "--suite", installed.Suite(), "--detail", "--only", "7400", installed.Second()})
                    .out;
    const Json row = Json::parse(run.out)["rows"][1];
    RC_ASSERT(row["element"] == "7400");
    const Json after = Element(installed.Logic(), "7400");
    if (!conflicts.empty()) {
        RC_ASSERT(run.status == 1);
        RC_ASSERT(row["status"] == "not copied");
        std::set<std::string> named;
        const std::string listed = row.value("conflicts", "");
        for (size_t start = 0; start < listed.size();) {
            const size_t end = std::min(listed.find(", ", start), listed.size());
            named.insert(listed.substr(start, end - start));
            start = end + 2;
        }
        RC_ASSERT(named == conflicts);
        RC_ASSERT(after == before);
        return;
    }
    RC_ASSERT(run.status == 0);
    RC_ASSERT(after == expected);
    // A merge equal to what is installed is saved too: the upgrade's element becomes the base.
    const int ran = newestRun();
    if (ran == lastRun) return;  // nothing was saved, and nothing recorded
    const auto undone = RunCli({"rollback", "--suite", installed.Suite(), "--force", std::to_string(ran)});
    RC_LOG() << undone.out << undone.err;
    RC_ASSERT(undone.status == 0);
    RC_ASSERT(Element(installed.Logic(), "7400") == before);
}

// What the property cannot reach: data files merged by lines and their conflicts, the detail's
// third column, the summary's words, and a base lost when the run that installed it is undone.
TEST(CliMergeTest, FilesMergeByLinesAndTheSummaryNamesWhatConflicts) {
    Upgraded installed;
    const std::string lines = "TAL 2\r\nA 1\r\nB 2\r\nC 3\r\nD 4\r\nE 5\r\n";
    test::WriteFile(installed.dir / "upgrade/heatsink.TAL", lines);
    ASSERT_EQ(RunCli({"apply", "--suite", installed.Suite(), "--yes", installed.dir / "upgrade"}).status, 0);
    const std::string heatsink = installed.Suite() + "/LIB/heatsink.TAL",
                      airflow = installed.Suite() + "/JOB/airflow.DAT";
    ASSERT_EQ(
        RunCli({"diff", "--suite", installed.Suite(), "--only", "heatsink.TAL", installed.dir / "upgrade"})
            .status,
        0);
    // Here: the first line of one file and the second of the other; the upgrade: the last line of
    // the first, the second of the other, and a field of an element that was edited here too.
    test::WriteFile(heatsink, "TAL 2 (checked)\r\nA 1\r\nB 2\r\nC 3\r\nD 4\r\nE 5\r\n");
    test::WriteFile(installed.Second() + "/heatsink.TAL", "TAL 2\r\nA 1\r\nB 2\r\nC 3\r\nD 4\r\nE 6\r\n");
    const std::string flow = test::ReadFile(airflow);
    test::WriteFile(airflow, flow.substr(0, flow.find('\n') + 1) + "AIRFLOW 0.7 m/s\r\n");
    test::WriteFile(installed.Second() + "/airflow.DAT",
                    flow.substr(0, flow.find('\n') + 1) + "AIRFLOW 0.9 m/s\r\n");
    Json part = Element(installed.Logic(), "7400");
    const std::string original = part["device"]["text1"];
    part["device"]["text1"] = "HERE";
    Import(installed.dir, installed.Logic(), part);
    part["device"]["text1"] = "THERE";
    Import(installed.dir, installed.Second() + "/Upgrade.PART", part);

    const Json rows = Rows({"diff", "--suite", installed.Suite(), "--json", installed.Second()});
    EXPECT_EQ(rows["heatsink.TAL"].value("merge", ""), "clean");
    EXPECT_EQ(rows["airflow.DAT"].value("merge", ""), "conflict");
    EXPECT_EQ(rows["7400"].value("merge", ""), "conflict");
    EXPECT_NE(RunCli({"diff", "--suite", installed.Suite(), "--detail", "--only", "7400", installed.Second()})
                  .out.find("  device.text1: HERE -> THERE  (last installed: " + original + ")\n"),
              std::string::npos);

    const std::string before =
        test::ReadFile(heatsink) + test::ReadFile(airflow) + Element(installed.Logic(), "7400").dump();
    const auto run = RunCli({"apply", "--suite", installed.Suite(), "--yes", "--merge", "--only", "7400",
                             "--only", "heatsink.TAL", "--only", "airflow.DAT", installed.Second()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Not Copied (conflicting edits: device.text1)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Not copied (conflicting edits: the same lines)"), std::string::npos);
    EXPECT_NE(run.out.find("Merged with the edits here"), std::string::npos);
    EXPECT_EQ(test::ReadFile(heatsink), "TAL 2 (checked)\r\nA 1\r\nB 2\r\nC 3\r\nD 4\r\nE 6\r\n");
    EXPECT_EQ(test::ReadFile(airflow), flow.substr(0, flow.find('\n') + 1) + "AIRFLOW 0.7 m/s\r\n");
    // Merged, it is still edited here: the upgrade's file is its base now.
    EXPECT_EQ(
        Rows({"diff", "--suite", installed.Suite(), "--json", installed.Second()})["heatsink.TAL"]["local"],
        "edited");

    ASSERT_EQ(RunCli({"rollback", "--suite", installed.Suite(), "--force"}).status, 0);
    EXPECT_EQ(test::ReadFile(heatsink) + test::ReadFile(airflow) + Element(installed.Logic(), "7400").dump(),
              before);
    // The run that installed the base undone, there is none.
    ASSERT_EQ(RunCli({"rollback", "--suite", installed.Suite(), "--force"}).status, 0);
    EXPECT_EQ(Rows({"diff", "--suite", installed.Suite(), "--json", installed.Second()})["7400"]["local"],
              "no base");
}

}  // namespace
}  // namespace zrx
