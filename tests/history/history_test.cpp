#include "history/rollback.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "apply/index_files.h"
#include "apply/targets.h"
#include "history/run_record.h"
#include "program/summary_window.h"
#include "support/contents.h"
#include "support/folder.h"
#include "support/upgrade_fixture.h"

namespace zrx {
namespace {

using test::MakeLibrary;
using test::ModelJson;
using test::PartJson;
using test::SymbolJson;

namespace fs = std::filesystem;

using test::Contents;

class HistoryTest : public test::UpgradeTest {
protected:
    void SetUp() override {
        MakeLibrary(m_suite / "LIB/Logic.PART", true, {PartJson("7400", "OLD"), PartJson("7408", "MINE")});
        MakeLibrary(m_upgrade / "Upgrade.PART", true,
                    {PartJson("7400", "NEW"), PartJson("7404", "NEW"), PartJson("7408", "MINE")});
        MakeLibrary(m_suite / "LIB/Logic.SYMBOL", false, {SymbolJson("NAND", 1, {{6, "old"}})});
        MakeLibrary(m_upgrade / "A_Upg.SYMBOL", false,
                    {SymbolJson("NAND", 1, {{6, "new"}}), SymbolJson("NOR", 1, {{6, "n"}})});
        MakeLibrary(m_upgrade / "Upgrade.SPARAM", false,
                    {ModelJson("D1", "D,diode", "fast"), ModelJson("Q1", "Q,npn", "q")});
        MakeLibrary(m_suite / "ZSM_MOD/Diodes.SML", false, {ModelJson("D1", "D,diode", "slow")});
        test::WriteFile(m_suite / "ZSM_MOD/modpar.idx", "D||DIODES|D1|slow\r\n\r\nQ||OTHER|Q9|x\r\n");
        test::WriteFile(m_suite / "LIB/heat.TAL", "old heat");
        fs::last_write_time(m_suite / "LIB/heat.TAL",
                            fs::file_time_type::clock::now() - std::chrono::hours(48));
        test::WriteFile(m_upgrade / "heat.TAL", "new heat");
        test::WriteFile(m_upgrade / "cool.DAT", "cool");
        test::WriteFile(m_upgrade / "op.sbc", ".SUBCKT OP 1 2\r\n*Op amp, Opamp\r\n");
        WriteList({"1,0,1,7400,Logic.PART", "1,0,1,7404,Logic.PART", "1,0,1,7408,Logic.PART",
                   "1,0,1,7404,New.PART", "2,0,1,NAND,Logic.SYMBOL,A_Upg.SYMBOL",
                   "2,0,1,NOR,Logic.SYMBOL,A_Upg.SYMBOL", "5,0,5,D1,Diodes.SML", "5,0,5,Q1,Bipolar.SML",
                   "4,0,1,heat.TAL", "4,0,2,cool.DAT", "4,0,9,op.sbc,OPAMPS"});
    }
    // Back to the load page, the list loaded again, on to the update page.
    static void LoadAgain(App& app) {
        app.window.main.F_Cancel.Click();
        app.window.main.F_Msg.SetVisible(false);
        app.window.main.F_lstfrm.SetVisible(true);
        app.window.main.F_lstok.Click();
        app.window.main.F_Proceed.Click();
    }
    // A recorded run without changes, for a test to add its own to.
    static std::unique_ptr<history::RunRecorder> BeginRun(App& app) {
        auto record = history::RunRecorder::Begin(app.installation.env, {app.upgrade.ListPath, {}, {}});
        EXPECT_TRUE(test::Done(record));
        return record ? std::move(*record) : nullptr;
    }
    // The summary's statuses by element or file name, and its title as "title".
    static std::map<std::string, std::string> StatusAfterUndo(ui::Form& form) {
        std::map<std::string, std::string> status;
        auto* grid = static_cast<ui::Grid*>(form.Find("F_Resgrid"));
        for (int r = 1; r < grid->Rows(); ++r) status[grid->TextMatrix(r, 0)] = grid->TextMatrix(r, 3);
        status["title"] = form.Find("F_Result")->Caption();
        return status;
    }
    std::vector<history::RunSummary> Runs() {
        const auto runs = history::ListRuns(m_app->installation.env);
        EXPECT_TRUE(test::Done(runs));
        return runs.value_or({});
    }
};

TEST_F(HistoryTest, ARollbackBringsBackEverythingTheRunChanged) {
    const auto before = Contents(m_suite.Dir());
    App& app = Open();
    Update(app);
    ASSERT_NE(app.run.lastRunId, 0);
    EXPECT_NE(Contents(m_suite.Dir()), before);
    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].state, "complete");
    EXPECT_EQ(runs[0].folder, m_upgrade.Path());
    EXPECT_EQ(runs[0].elements, 7);  // 7408 was the same already: not changed, not recorded
    EXPECT_EQ(runs[0].files, 3);
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, history::RollbackResult::Outcome::Restored) << result.message;
    EXPECT_EQ(Contents(m_suite.Dir()), before);
    EXPECT_EQ(Runs()[0].state, "rolled back");
    // Rolled back is rolled back.
    EXPECT_EQ(history::Rollback(app.installation.env, std::nullopt, false).outcome,
              history::RollbackResult::Outcome::NothingDone);
}

// A run killed just after its new index file took the old one's place, before it could note
// anything more: the record knew the new file before the rename, and the rollback puts the old
// file back byte for byte (its blank line too) instead of taking lines out of the new one.
TEST_F(HistoryTest, AnIndexFileReplacedJustBeforeAKillComesBackWhole) {
    const std::string index = m_suite / "ZSM_MOD/modpar.idx";
    test::WriteFile(index, "D||DIODES|D1|slow\r\n\r\nQ||OTHER|Q9|x");  // no line end at the end
    const std::string before = test::ReadFile(index);
    App& app = Open();
    auto record = BeginRun(app);
    ASSERT_NE(record, nullptr);
    std::string error;
    auto file = IndexFile::Load(index, IndexFile::Kind::ModelIndex);
    ASSERT_NE(file, nullptr);
    file->Add("D||DIODES|D2|added", "DIODES");
    InstallationAccess access(app.installation.env);
    const auto target = access.Resolve(app.installation.env.ZSMmod, "modpar.idx");
    ASSERT_TRUE(target) << error;
    ASSERT_TRUE(test::Done(record->BeforeIndexSave(*target, file->AddedLines())));
    ASSERT_TRUE(file->Save([&](const struct stat& written) { return record->BeforeIndexReplace(index, written); }));
    ASSERT_NE(test::ReadFile(index), before);
    record.reset();  // killed: the run never finishes

    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, history::RollbackResult::Outcome::Restored) << result.message;
    EXPECT_EQ(test::ReadFile(index), before);
}

// Killed after the new file was noted but before it replaced the old one: nothing to take out.
TEST_F(HistoryTest, AnIndexFileNotYetReplacedIsLeftAsItWas) {
    const std::string index = m_suite / "ZSM_MOD/modpar.idx";
    // The old file already holds the line the run adds: it must stay.
    test::WriteFile(index, test::ReadFile(index) + "D||DIODES|D2|added\r\n");
    const std::string before = test::ReadFile(index);
    App& app = Open();
    auto record = BeginRun(app);
    ASSERT_NE(record, nullptr);
    std::string error;
    InstallationAccess access(app.installation.env);
    const auto target = access.Resolve(app.installation.env.ZSMmod, "modpar.idx");
    ASSERT_TRUE(target) << error;
    ASSERT_TRUE(test::Done(record->BeforeIndexSave(*target, {"D||DIODES|D2|added"})));
    auto file = IndexFile::Load(index, IndexFile::Kind::ModelIndex);
    file->Add("Q||OTHER|Q2|more", "OTHER");
    EXPECT_FALSE(file->Save([&](const struct stat& written) {
        record->BeforeIndexReplace(index, written);
        return false;  // killed here
    }));
    record.reset();
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, history::RollbackResult::Outcome::Restored) << result.message;
    EXPECT_EQ(result.restored, 0u);
    EXPECT_EQ(test::ReadFile(index), before);
    for (const auto& entry : fs::directory_iterator(m_suite / "ZSM_MOD"))
        EXPECT_EQ(entry.path().filename().string().find("zrxtmp"), std::string::npos) << entry.path();
}

TEST_F(HistoryTest, WhatWasChangedAfterTheRunIsLeftAloneUnlessForced) {
    App& app = Open();
    Update(app);
    std::string error;
    ASSERT_TRUE(ImportLibrary(m_suite / "LIB/Logic.PART",
                              R"({"kind":"ZarnixDLL00","elements":[)" + PartJson("7400", "EDITED") + "]}"));
    // An element the run made, edited since.
    ASSERT_TRUE(ImportLibrary(m_suite / "LIB/New.PART",
                              R"({"kind":"ZarnixDLL00","elements":[)" + PartJson("7404", "EDITED") + "]}"));
    test::WriteFile(m_suite / "JOB/cool.DAT", "edited by hand");
    test::WriteFile(m_suite / "LIB/heat.TAL", "NEW HEAT");  // the same size as the run's "new heat"
    // Someone else's index line stays whatever happens, and so does a second copy of the run's.
    test::WriteFile(m_suite / "ZSM_MOD/modpar.idx", test::ReadFile(m_suite / "ZSM_MOD/modpar.idx") +
                                                        "Z||ZZZ|Z1|z\nD||DIODES|D1|fast\r\n");
    auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, history::RollbackResult::Outcome::Conflicts);
    // Undone newest first: the elements, then the data files the run copied before them.
    ASSERT_EQ(result.conflicts.size(), 4u);
    EXPECT_EQ(result.conflicts[0], "7404 in " + (m_suite / "LIB/New.PART") + " was changed after the update");
    EXPECT_EQ(result.conflicts[1],
              "7400 in " + (m_suite / "LIB/Logic.PART") + " was changed after the update");
    EXPECT_EQ(result.conflicts[2], (m_suite / "JOB/cool.DAT") + " was changed after the update");
    EXPECT_EQ(result.conflicts[3], (m_suite / "LIB/heat.TAL") + " was changed after the update");
    EXPECT_NE(ExportElement(m_suite / "LIB/Logic.PART", "7400")->find("EDITED"), std::string::npos);
    EXPECT_EQ(test::ReadFile(m_suite / "JOB/cool.DAT"), "edited by hand");
    EXPECT_EQ(test::ReadFile(m_suite / "LIB/heat.TAL"), "NEW HEAT");
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_MOD/modpar.idx"),
              "D||DIODES|D1|slow\r\nQ||OTHER|Q9|x\r\nZ||ZZZ|Z1|z\nD||DIODES|D1|fast\r\n");
    EXPECT_EQ(test::LibraryNames(m_suite / "LIB/Logic.SYMBOL"),
              std::vector<std::string>{"NAND"});  // the rest went back
    EXPECT_EQ(Runs()[0].state, "partly rolled back");

    result = history::Rollback(app.installation.env, std::nullopt, true);
    EXPECT_EQ(result.outcome, history::RollbackResult::Outcome::Restored) << result.message;
    EXPECT_NE(ExportElement(m_suite / "LIB/Logic.PART", "7400")->find("OLD"), std::string::npos);
    EXPECT_FALSE(fs::exists(m_suite / "JOB/cool.DAT"));
    EXPECT_EQ(test::ReadFile(m_suite / "LIB/heat.TAL"), "old heat");
    EXPECT_FALSE(fs::exists(m_suite / "LIB/New.PART"));
    EXPECT_EQ(Runs()[0].state, "rolled back");
}

TEST_F(HistoryTest, RunsAreRolledBackNewestFirstAndTheRecordKeepsTheLastOnes) {
    App& app = Open();
    Update(app);
    const int64_t first = app.run.lastRunId;
    MakeLibrary(m_upgrade / "Upgrade.PART", true, {PartJson("7400", "NEWER")});
    WriteList({"1,0,1,7400,Logic.PART"});
    LoadAgain(app);
    Update(app);
    const int64_t second = app.run.lastRunId;
    ASSERT_GT(second, first);
    auto refused = history::Rollback(app.installation.env, first, false);
    EXPECT_EQ(refused.outcome, history::RollbackResult::Outcome::NothingDone);
    EXPECT_EQ(refused.message, "run " + std::to_string(second) +
                                   " is newer and changed the same elements, files or index files; roll it back first");
    EXPECT_EQ(history::Rollback(app.installation.env, std::nullopt, false).run, second);
    EXPECT_EQ(history::Rollback(app.installation.env, std::nullopt, false).run, first);
    std::string error;
    EXPECT_NE(ExportElement(m_suite / "LIB/Logic.PART", "7400")->find("OLD"), std::string::npos);

    // Only the last runs are kept: the oldest goes when a new run starts.
    ASSERT_TRUE(test::Done(history::SetKeep(app.installation.env, 2)));
    EXPECT_EQ(history::KeptRuns(app.installation.env), 2);
    app.window.main.F_Update.Click();
    const auto runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].id, second);
    EXPECT_FALSE(fs::exists(history::HistoryFolder(app.installation.env) + "/run-" + std::to_string(first)));
}

// Newest first holds for files as for elements.
TEST_F(HistoryTest, AnOlderRunThatChangedAFileANewerRunChangedWaits) {
    App& app = Open();
    Update(app);
    const int64_t first = app.run.lastRunId;
    test::WriteFile(m_upgrade / "cool.DAT", "cooler");
    WriteList({"4,0,2,cool.DAT"});
    LoadAgain(app);
    Update(app);
    const auto refused = history::Rollback(app.installation.env, first, false);
    EXPECT_EQ(refused.outcome, history::RollbackResult::Outcome::NothingDone);
    EXPECT_EQ(refused.message,
              "run " + std::to_string(app.run.lastRunId) +
                  " is newer and changed the same elements, files or index files; roll it back first");
    EXPECT_EQ(test::ReadFile(m_suite / "JOB/cool.DAT"), "cooler");
}

TEST_F(HistoryTest, ARunThatChangesNothingLeavesNoRecord) {
    App& app = Open();
    app.window.main.F_OverPrompt(0).Click();
    m_dialogs.SetDefaultYesNo(ui::Answer::No);
    m_dialogs.QueueAnswer(ui::Answer::Yes);
    WriteList({"1,0,1,7400,Logic.PART", "1,0,1,7408,Logic.PART"});  // a No, and the same as installed
    LoadAgain(app);
    Update(app);
    EXPECT_EQ(app.run.lastRunId, 0);
    EXPECT_TRUE(Runs().empty());
}

TEST_F(HistoryTest, ARecordThatIsNotOursStopsTheRunBeforeItChangesAnything) {
    // A database of another program is no record either.
    {
        fs::create_directories(m_suite / ".zrxlibug/history");
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((m_suite / ".zrxlibug/history/history.db").c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE runs(id); CREATE TABLE changes(id);", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        App& app = Open();
        Update(app);
        EXPECT_TRUE(m_summaryRows.empty());
        EXPECT_NE(BoxTexts().back().find("is not a record of update runs of this program"), std::string::npos);
        m_app.reset();
    }
    const auto before = Contents(m_suite.Dir());
    test::WriteFile(m_suite / ".zrxlibug/history/history.db", "somebody else's file");
    App& app = Open();
    Update(app);
    EXPECT_TRUE(m_summaryRows.empty());
    EXPECT_EQ(BoxTexts().back(),
              "The update could not be recorded for undo: " + (m_suite / ".zrxlibug/history/history.db") +
                  " is not a record of update runs of this program (or it is damaged). Nothing was changed.");
    EXPECT_EQ(Contents(m_suite.Dir()), before);
    EXPECT_EQ(test::ReadFile(m_suite / ".zrxlibug/history/history.db"), "somebody else's file");
    EXPECT_EQ(history::Rollback(app.installation.env, std::nullopt, false).outcome,
              history::RollbackResult::Outcome::NothingDone);
}

// The summary's Undo never forces: what was changed meanwhile stays, and the box names it.
TEST_F(HistoryTest, TheSummarysUndoLeavesAloneWhatWasChangedMeanwhile) {
    App& app = Open();
    std::map<std::string, std::string> status;
    m_whileSummary = [this, &status](ui::Form& form) {
        test::WriteFile(m_suite / "JOB/cool.DAT", "edited while the summary was shown");
        static_cast<ui::Button*>(form.Find("P_Undo"))->Click();
        status = StatusAfterUndo(form);
    };
    Update(app);
    EXPECT_EQ(status["cool.DAT"], "Copied, not undone");
    EXPECT_EQ(status["heat.TAL"], "Undone");
    EXPECT_EQ(status["title"], "Library  Update Summary  (the update was undone in part)");
    EXPECT_TRUE(StartsWith(BoxTexts()[2], "The update was undone in part.")) << BoxTexts()[2];
    EXPECT_NE(BoxTexts()[2].find((m_suite / "JOB/cool.DAT") + " was changed after the update"), std::string::npos);
    EXPECT_EQ(test::ReadFile(m_suite / "JOB/cool.DAT"), "edited while the summary was shown");
}

TEST_F(HistoryTest, TheSummaryOffersToUndoTheRun) {
    const auto before = Contents(m_suite.Dir());
    App& app = Open();
    std::map<std::string, std::string> status;
    std::string saved;
    test::TempDir outside;
    m_dialogs.QueueSaveFileName(outside / "Upginfo.TXT");
    m_whileSummary = [&status, &saved, &outside](ui::Form& form) {
        auto* undo = static_cast<ui::Button*>(form.Find("P_Undo"));
        EXPECT_TRUE(undo->Enabled());
        undo->Click();
        EXPECT_FALSE(undo->Enabled());
        status = StatusAfterUndo(form);
        // Save Summary, as the button does it.
        static_cast<ui::Button*>(form.Find("F_Save"))->Click();
        saved = test::ReadFile(outside / "Upginfo.TXT");
    };
    Update(app);
    // Every row the run changed was taken back; one whose element was the same already stays.
    for (const auto& [name, text] : status) {
        if (name == "title") continue;
        EXPECT_EQ(text, name == "7408" ? "Copied" : "Undone") << name;
    }
    EXPECT_EQ(status["title"], "Library  Update Summary  (the update was undone)");
    // What Save writes is what the window shows.
    EXPECT_NE(saved.find("heat.TAL\t"), std::string::npos);
    EXPECT_EQ(saved.find("\tCopied\r\n"), saved.rfind("\tCopied\r\n")) << saved;
    EXPECT_NE(saved.find("\tUndone\r\n"), std::string::npos) << saved;
    EXPECT_EQ(BoxTexts()[1],
              "Undo this update? Every element and file it changed goes back to what it was; what was "
              "changed since the update is left alone.");
    EXPECT_TRUE(StartsWith(BoxTexts()[2], "The update was undone. Changes taken back:")) << BoxTexts()[2];
    EXPECT_EQ(Contents(m_suite.Dir()), before);
}

}  // namespace
}  // namespace zrx
