// The undo record as input, not as truth: a record that was rewritten, copied from another
// installation, made by another user or reached through links changes nothing outside the
// installation; kept files, identities, retention, full disks and side files of libraries.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "apply/run_guard.h"
#include "base/directory.h"
#include "base/test_point.h"
#include "history/record_folder.h"
#include "history/rollback.h"
#include "history/run_record.h"
#include "kernel/library_exchange.h"
#include "support/contents.h"
#include "support/folder.h"
#include "support/run_cli.h"
#include "support/upgrade_fixture.h"
#include "upgrade_list/list_format.h"

namespace zrx {
namespace {

namespace fs = std::filesystem;
using Outcome = history::RollbackResult::Outcome;
using test::MakeLibrary;
using test::PartJson;

class RecordInputTest : public test::UpgradeTest {
protected:
    void SetUp() override { Prepare(m_suite, m_upgrade.Path()); }
    // An installation with an element, a file, a subcircuit folder and an index the upgrade changes.
    void Prepare(const test::Installation& suite, const std::string& upgrade) {
        MakeLibrary(suite / "LIB/Logic.PART", true, {PartJson("7400", "OLD")});
        MakeLibrary(upgrade + "/Upgrade.PART", true, {PartJson("7400", "NEW"), PartJson("7404", "NEW")});
        test::WriteFile(suite / "JOB/cool.DAT", "cool as it was installed, 32 b");
        fs::last_write_time(suite / "JOB/cool.DAT", fs::file_time_type::clock::now() - std::chrono::hours(48));
        test::WriteFile(upgrade + "/cool.DAT", "the upgrade's cool");
        test::WriteFile(upgrade + "/op.sbc", ".SUBCKT OP 1 2\r\n*Op amp, Opamp\r\n");
        test::WriteFile(suite / "ZSM_SBK/Subcir.idx", "X|Y|library|y|OTHER| y\r\n");
        test::WriteFile(upgrade + "/Upgrade.lst", std::string(kHeaderLine) +
                                                      "\r\n1,0,1,7400,Logic.PART\r\n1,0,1,7404,Logic.PART\r\n"
                                                      "4,0,2,cool.DAT\r\n4,0,9,op.sbc,OPAMPS\r\n" +
                                                      std::string(kEndLine) + "\r\n");
    }
    App& Run() {
        App& app = Open();
        Update(app);
        EXPECT_NE(app.run.lastRunId, 0);
        return app;
    }
    std::string Record() const { return m_suite / ".zrxlibug/history/history.db"; }
    // Adds a row to the record's changes, as somebody with a text editor for SQLite might.
    void Forge(const std::string& values) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Record().c_str(), &db), SQLITE_OK);
        const std::string sql = "INSERT INTO changes(run, what, root, path, name, created, link, new_device,"
                                " new_inode, new_size, new_mtime) VALUES(" + values + ")";
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    void Sql(const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Record().c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    test::TempDir m_outside;
};

TEST(RecordPlaceTest, APathLiesInAFolderOnlyByWholeComponents) {
    Environment env;
    env.IniFile = "/opt/z/ZARNIX32.INI";
    env.ZSMsbk = "/opt/z/SBK/REGS";
    env.LibDir = "/opt/z/LIB/";
    const auto inRegs = history::PlaceOf(env, "/opt/z/SBK/REGS/a.sbc");
    ASSERT_TRUE(inRegs);
    EXPECT_EQ(inRegs->root, 8);
    EXPECT_EQ(inRegs->relative, "a.sbc");
    // REGS2 is not inside REGS: it is in the installation folder.
    const auto inRegs2 = history::PlaceOf(env, "/opt/z/SBK/REGS2/a.sbc");
    ASSERT_TRUE(inRegs2);
    EXPECT_EQ(inRegs2->root, 0);
    EXPECT_EQ(inRegs2->relative, "SBK/REGS2/a.sbc");
    EXPECT_EQ(history::PlaceOf(env, "/opt/z/LIB/x.PART")->relative, "x.PART");
    EXPECT_FALSE(history::PlaceOf(env, "/opt/other/x"));
    EXPECT_FALSE(history::PlaceOf(env, "/opt/z/LIB/../../etc/passwd"));
}

// Rows added to the record name places beneath the installation's folders and nothing else: a
// way out by "..", an absolute path, a link or a folder swapped for a link leads nowhere.
TEST_F(RecordInputTest, ARewrittenRecordChangesNothingOutside) {
    const auto before = test::Contents(m_suite.Dir());
    App& app = Run();
    test::WriteFile(m_outside / "marker.txt", "outside\r\nkeep this line\r\n");
    fs::create_directory(m_outside / "folder");
    fs::create_directory_symlink(m_outside.Path(), m_suite / "JOB/out");
    fs::create_symlink(m_outside / "marker.txt", m_suite / "JOB/evil.txt");
    struct stat marker {};
    ::stat((m_outside / "marker.txt").c_str(), &marker);
    const std::string run = std::to_string(app.run.lastRunId);
    const std::string identity = std::to_string(marker.st_dev) + "," + std::to_string(marker.st_ino) + "," +
                                 std::to_string(marker.st_size) + "," +
                                 std::to_string(marker.st_mtim.tv_sec * 1000000000 + marker.st_mtim.tv_nsec);
    Forge(run + ", 2, 1, '../../" + fs::path(m_outside.Path()).filename().string() + "/marker.txt', '', 1, 0, " + identity);
    Forge(run + ", 2, 1, '" + (m_outside / "marker.txt") + "', '', 1, 0, " + identity);
    Forge(run + ", 2, 1, 'out/marker.txt', '', 1, 0, " + identity);
    Forge(run + ", 2, 1, 'evil.txt', '', 1, 1, " + identity);
    Forge(run + ", 5, 1, 'out/marker.txt', 'keep this line', 0, 0, NULL, NULL, NULL, NULL");
    Forge(run + ", 4, 1, 'out/folder', '', 1, 0, NULL, NULL, NULL, NULL");
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, Outcome::Conflicts) << result.message;
    EXPECT_EQ(test::ReadFile(m_outside / "marker.txt"), "outside\r\nkeep this line\r\n");
    EXPECT_TRUE(fs::exists(m_outside / "folder"));
    fs::remove(m_suite / "JOB/out");
    fs::remove(m_suite / "JOB/evil.txt");
    EXPECT_EQ(test::Contents(m_suite.Dir()), before);  // the run's own changes went back
}

TEST_F(RecordInputTest, ARecordCopiedFromAnotherInstallationIsRefused) {
    Run();
    test::Installation other;
    test::TempDir otherUpgrade;
    Prepare(other, otherUpgrade.Path());
    const auto before = test::Contents(other.Dir());
    fs::copy(m_suite / ".zrxlibug", other / ".zrxlibug", fs::copy_options::recursive);
    const auto result = test::RunCli({"rollback", "--suite", other.Dir()});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("belongs to another installation"), std::string::npos) << result.err;
    const auto apply = test::RunCli({"apply", "--suite", other.Dir(), "--yes", otherUpgrade.Path()});
    EXPECT_EQ(apply.status, 2);
    EXPECT_NE(apply.err.find("Nothing was changed"), std::string::npos) << apply.err;
    EXPECT_EQ(test::Contents(other.Dir()), before);
    // The record of this installation still works here.
    EXPECT_EQ(test::RunCli({"rollback", "--suite", m_suite.Dir()}).status, 0);
}

TEST_F(RecordInputTest, ARecordOthersCanWriteIsRefused) {
    App& app = Run();
    const auto after = test::Contents(m_suite.Dir());
    fs::permissions(m_suite / ".zrxlibug/history", fs::perms::group_write, fs::perm_options::add);
    auto result = history::Rollback(app.installation.env, std::nullopt, true);
    EXPECT_EQ(result.outcome, Outcome::NothingDone);
    EXPECT_NE(result.message.find("can be written by other users: take their right to write away (chmod -R go-w " +
                                  (m_suite / ".zrxlibug/history") + ")"),
              std::string::npos)
        << result.message;
    fs::permissions(m_suite / ".zrxlibug/history", fs::perms::group_write, fs::perm_options::remove);
    if (::geteuid() == 0) {
        // Made by somebody else: even root's forced rollback leaves it alone.
        ASSERT_EQ(::chown((m_suite / ".zrxlibug").c_str(), 65534, 65534), 0);
        result = history::Rollback(app.installation.env, std::nullopt, true);
        EXPECT_EQ(result.outcome, Outcome::NothingDone);
        EXPECT_NE(result.message.find("belongs to another user (uid 65534)"), std::string::npos) << result.message;
        const auto apply = test::RunCli({"apply", "--suite", m_suite.Dir(), "--yes", m_upgrade.Path()});
        EXPECT_EQ(apply.status, 2);
        EXPECT_NE(apply.err.find("belongs to another user"), std::string::npos) << apply.err;
    }
    EXPECT_EQ(test::Contents(m_suite.Dir()), after);
}

TEST_F(RecordInputTest, LinksInPlaceOfTheRecordFolderOrTheLockAreNeverFollowed) {
    const auto before = test::Contents(m_suite.Dir());
    for (const char* link : {".zrxlibug", ".zrxlibug/history", ".zrxlibug.lock"}) {
        fs::remove_all(m_suite / ".zrxlibug");
        fs::remove(m_suite / ".zrxlibug.lock");
        fs::remove(m_suite / ".zrxlibug.id");  // no installation that had its own folder
        if (std::string(link) == ".zrxlibug/history") fs::create_directory(m_suite / ".zrxlibug");
        fs::create_symlink(m_outside / "target", m_suite / link);
        const auto result = test::RunCli({"apply", "--suite", m_suite.Dir(), "--yes", m_upgrade.Path()});
        EXPECT_EQ(result.status, 2) << link;
        EXPECT_NE(result.err.find("symbolic link"), std::string::npos) << link << ": " << result.err;
        EXPECT_FALSE(fs::exists(m_outside / "target")) << link;
        EXPECT_EQ(test::Contents(m_suite.Dir()), before) << link;
        fs::remove(m_suite / link);
    }
}

TEST_F(RecordInputTest, AFolderSwappedForALinkIsNotWrittenThroughByTheRollback) {
    App& app = Run();
    fs::create_directory(m_outside / "OPAMPS");
    test::WriteFile(m_outside / "OPAMPS/op.sbc", "outside");
    fs::rename(m_suite / "ZSM_SBK/OPAMPS", m_suite / "ZSM_SBK/OPAMPS.moved");
    fs::create_directory_symlink(m_outside / "OPAMPS", m_suite / "ZSM_SBK/OPAMPS");
    const auto result = history::Rollback(app.installation.env, std::nullopt, true);
    EXPECT_EQ(result.outcome, Outcome::Conflicts);
    EXPECT_EQ(test::ReadFile(m_outside / "OPAMPS/op.sbc"), "outside");
    EXPECT_TRUE(fs::exists(m_outside / "OPAMPS"));
}

// A file with a second name elsewhere is kept as a copy: a write through that other name
// afterwards does not change what the rollback brings back.
TEST_F(RecordInputTest, AKeptFileChangedThroughAnotherNameIsRestoredAsItWas) {
    const std::string original = test::ReadFile(m_suite / "JOB/cool.DAT");
    fs::create_hard_link(m_suite / "JOB/cool.DAT", m_suite / "SYS/cool-too.DAT");
    App& app = Run();
    {
        std::FILE* other = std::fopen((m_suite / "SYS/cool-too.DAT").c_str(), "r+");
        ASSERT_NE(other, nullptr);
        std::fputs("written through the other name, 62 bytes long in all of it..", other);
        std::fclose(other);
    }
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, Outcome::Restored) << result.message;
    EXPECT_EQ(test::ReadFile(m_suite / "JOB/cool.DAT"), original);
}

// A file is the one the record knew only when its device, inode, size and time all agree: an
// inode number used again by another file is no proof.
TEST_F(RecordInputTest, AnInodeNumberUsedAgainIsNotTakenForTheOldFile) {
    App& app = Run();
    test::WriteFile(m_suite / "JOB/cool.DAT", "edited after the run");
    struct stat now {};
    ::stat((m_suite / "JOB/cool.DAT").c_str(), &now);
    Sql("UPDATE changes SET old_inode=" + std::to_string(now.st_ino) + ", old_device=old_device+1 WHERE what=2");
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, Outcome::Conflicts);
    ASSERT_EQ(result.conflicts.size(), 1u);
    EXPECT_EQ(result.conflicts[0], (m_suite / "JOB/cool.DAT") + " was changed after the update");
}

// A file comes back as the very file while it is as it was, its other names with it, and the
// record lets go of it; a run under a group-writable umask is still undone; a user's file that
// only looks like a temporary file of the program stays.
TEST_F(RecordInputTest, AFileComesBackAsTheVeryFileAndTheRecordLetsGoOfIt) {
    fs::create_hard_link(m_suite / "JOB/cool.DAT", m_suite / "SYS/cool-too.DAT");
    test::WriteFile(m_suite / "JOB/.cool.DAT.zrxtmp-keep", "mine");
    const mode_t mask = ::umask(002);
    App& app = Run();
    ::umask(mask);
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, Outcome::Restored) << result.message;
    struct stat cool {}, other {}, index {};
    ASSERT_EQ(::stat((m_suite / "JOB/cool.DAT").c_str(), &cool), 0);
    ASSERT_EQ(::stat((m_suite / "SYS/cool-too.DAT").c_str(), &other), 0);
    ASSERT_EQ(::stat((m_suite / "ZSM_SBK/Subcir.idx").c_str(), &index), 0);
    EXPECT_EQ(cool.st_ino, other.st_ino);
    EXPECT_EQ(cool.st_nlink, 2u);
    EXPECT_EQ(index.st_nlink, 1u);
    EXPECT_EQ(test::ReadFile(m_suite / "JOB/.cool.DAT.zrxtmp-keep"), "mine");
}

// The record's places are found beneath the folders the run wrote in, or the rollback does nothing.
TEST_F(RecordInputTest, ARollbackWhereTheInstallationsFoldersMovedDoesNothing) {
    Run();
    fs::rename(m_suite / "JOB", m_suite / "JOB2");
    m_suite.keys["JobDir"] = m_suite / "JOB2";
    m_suite.WriteIni();
    const auto before = test::Contents(m_suite.Dir());
    const auto result = test::RunCli({"rollback", "--suite", m_suite.Dir()});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("nothing was done"), std::string::npos) << result.err;
    EXPECT_EQ(test::Contents(m_suite.Dir()), before);
}

// Two of the INI's keys may name one folder: what a run changed there is undone all the same.
TEST_F(RecordInputTest, ARunIsUndoneWhereTwoKeysNameOneFolder) {
    m_suite.keys["ZSMsbk"] = m_suite / "JOB";
    m_suite.WriteIni();
    std::filesystem::rename(m_suite / "ZSM_SBK/Subcir.idx", m_suite / "JOB/Subcir.idx");
    const auto before = test::Contents(m_suite.Dir());
    App& app = Run();
    ASSERT_TRUE(std::filesystem::exists(m_suite / "JOB/OPAMPS/op.sbc"));
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, Outcome::Restored) << (result.conflicts.empty() ? result.message : result.conflicts[0]);
    EXPECT_EQ(test::Contents(m_suite.Dir()), before);
}

// A run that replaced a library file as a data file waits for it: an older run's elements in
// that library are not written into the newer run's file.
TEST_F(RecordInputTest, AnOlderRunWaitsForANewerOneThatReplacedItsLibraryAsAFile) {
    Run();
    test::TempDir second;
    MakeLibrary(second / "Logic.PART", true, {PartJson("7400", "VENDOR")});
    std::filesystem::last_write_time(second / "Logic.PART", std::filesystem::file_time_type::clock::now() +
                                                                 std::chrono::hours(24));
    test::WriteFile(second / "Upgrade.lst", std::string(kHeaderLine) + "\r\n4,0,1,Logic.PART,Vendor\r\n" +
                                                std::string(kEndLine) + "\r\n");
    ASSERT_EQ(test::RunCli({"apply", "--suite", m_suite.Dir(), "--yes", second.Path()}).status, 0);
    const auto refused = test::RunCli({"rollback", "--suite", m_suite.Dir(), "1"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("run 2 is newer"), std::string::npos) << refused.err;
}

// A record that a full disk left without anything in it is made anew by the next run.
TEST_F(RecordInputTest, ARecordLeftEmptyIsMadeAnew) {
    std::filesystem::create_directories(m_suite / ".zrxlibug/history");
    std::filesystem::permissions(m_suite / ".zrxlibug", std::filesystem::perms::others_write | std::filesystem::perms::group_write,
                                 std::filesystem::perm_options::remove);
    std::filesystem::permissions(m_suite / ".zrxlibug/history", std::filesystem::perms::others_write | std::filesystem::perms::group_write,
                                 std::filesystem::perm_options::remove);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Record().c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    Run();
    const auto runs = history::ListRuns(m_app->installation.env);
    ASSERT_TRUE(test::Done(runs));
    EXPECT_EQ(runs->size(), 1u);
}

TEST_F(RecordInputTest, OnlyARunThatChangedSomethingMakesRoomAndAKilledEmptyRunIsNoRun) {
    std::string error;
    App& app = Run();
    const int64_t first = app.run.lastRunId;
    ASSERT_TRUE(test::Done(history::SetKeep(app.installation.env, 1)));
    // The same upgrade again changes nothing: the first run stays.
    Update(app);
    EXPECT_EQ(app.run.lastRunId, 0);
    // A run killed before it changed anything leaves nothing to undo either.
    ASSERT_TRUE(
        test::Done(history::RunRecorder::Begin(app.installation.env, {app.upgrade.ListPath, {}, {}})));
    const auto listed = history::ListRuns(app.installation.env);
    ASSERT_TRUE(test::Done(listed));
    const std::vector<history::RunSummary>& runs = *listed;
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].id, first);
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.run, first);
    EXPECT_EQ(result.outcome, Outcome::Restored);
    EXPECT_GT(result.restored, 0u);
}

// A library left with a write-ahead log by a killed writer: the preview and the history read it
// and leave its side files as they are; a rollback leaves it at rest, without any.
TEST_F(RecordInputTest, ThePreviewAndTheHistoryWriteNothingAndARollbackLeavesNoSideFiles) {
    Run();
    const std::string library = m_suite / "LIB/Logic.PART";
    const pid_t child = fork();
    if (child == 0) {
        sqlite3* db = nullptr;
        sqlite3_open(library.c_str(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE killed(x); INSERT INTO killed VALUES(1);", nullptr,
                     nullptr, nullptr);
        ::kill(::getpid(), SIGKILL);
    }
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(fs::exists(library + "-wal"));
    const std::string wal = test::ReadFile(library + "-wal");
    const std::string record = test::TreeSnapshot(m_suite / ".zrxlibug");
    EXPECT_EQ(test::RunCli({"diff", "--suite", m_suite.Dir(), m_upgrade.Path()}).status, 0);
    EXPECT_EQ(test::RunCli({"history", "--suite", m_suite.Dir()}).status, 0);
    EXPECT_EQ(test::ReadFile(library + "-wal"), wal);
    EXPECT_EQ(test::TreeSnapshot(m_suite / ".zrxlibug"), record);
    EXPECT_EQ(test::RunCli({"rollback", "--suite", m_suite.Dir()}).status, 0);
    for (const auto& entry : fs::recursive_directory_iterator(m_suite.Dir())) {
        const std::string name = entry.path().filename().string();
        if (entry.path().string().find(".zrxlibug/") != std::string::npos) continue;
        EXPECT_FALSE(name.ends_with("-wal") || name.ends_with("-shm")) << entry.path();
    }
}

// On a full disk a rollback says what it could not write back and marks only what reached the
// disk as done; once there is room, the next rollback completes it.
TEST_F(RecordInputTest, ARollbackOnAFullDiskIsCompletedOnceThereIsRoom) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    test::TempDir mountPoint;
    if (::mount("tmpfs", mountPoint.Path().c_str(), "tmpfs", 0, "size=8m") != 0) GTEST_SKIP() << "no tmpfs";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint.Path()};
    // The installation on the small disk, the upgrade elsewhere.
    const std::string suite = mountPoint / "suite";
    fs::copy(m_suite.Dir(), suite, fs::copy_options::recursive);
    std::string ini = test::ReadFile(suite + "/ZARNIX32.INI");
    for (size_t at; (at = ini.find(m_suite.Dir())) != std::string::npos;) ini.replace(at, m_suite.Dir().size(), suite);
    test::WriteFile(suite + "/ZARNIX32.INI", ini);
    std::vector<std::string> many;
    for (int i = 0; i < 400; ++i) many.push_back(PartJson("GEN" + std::to_string(i), std::string(1000, 'g')));
    MakeLibrary(suite + "/LIB/Logic.PART", true, many);
    std::string list = std::string(kHeaderLine) + "\r\n";
    for (int i = 0; i < 400; ++i) list += "1,0,1,GEN" + std::to_string(i) + ",Logic.PART\r\n";
    for (int i = 0; i < 400; ++i) many[static_cast<size_t>(i)] = PartJson("GEN" + std::to_string(i), "new");
    fs::remove(m_upgrade / "Upgrade.PART");
    MakeLibrary(m_upgrade / "Upgrade.PART", true, many);
    test::WriteFile(m_upgrade / "Upgrade.lst", list + std::string(kEndLine) + "\r\n");
    E_FlushLibraries();
    const auto before = test::Contents(suite);
    ASSERT_EQ(test::RunCli({"apply", "--suite", suite, "--yes", m_upgrade.Path()}).status, 0);
    // Every block taken but a few: room for the record's notes, none for the restored elements.
    {
        std::FILE* filler = std::fopen((mountPoint / "filler").c_str(), "w");
        const std::string block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
        }
        std::fclose(filler);
        fs::resize_file(mountPoint / "filler", fs::file_size(mountPoint / "filler") - 96 * 1024);
    }
    auto result = test::RunCli({"rollback", "--suite", suite});
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_NE(result.err.find("could not be written back (is the disk full?)"), std::string::npos) << result.err;
    fs::remove(mountPoint / "filler");
    result = test::RunCli({"rollback", "--suite", suite});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(test::Contents(suite), before);
}

// ---- One handle from check to use -------------------------------------------------------------

// The record's folder swapped for a link to somebody else's while a run records: the old elements
// still go into the record the run began, and a rollback brings them back from there.
TEST_F(RecordInputTest, ARecordFolderSwappedDuringTheRunStillGetsTheOldElements) {
    const auto before = test::Contents(m_suite.Dir());
    fs::create_directories(m_outside / "history");
    bool swapped = false;
    m_dialogs.OnProcessEvents([&](int) {
        if (swapped || !fs::exists(m_suite / ".zrxlibug/history/run-1")) return;
        fs::rename(m_suite / ".zrxlibug", m_suite / ".zrxlibug-real");
        fs::create_directory_symlink(m_outside.Path(), m_suite / ".zrxlibug");
        swapped = true;
    });
    Run();
    ASSERT_TRUE(swapped);
    EXPECT_TRUE(fs::is_empty(m_outside / "history"));
    EXPECT_TRUE(fs::exists(m_suite / ".zrxlibug-real/history/run-1/old.PART"));
    fs::remove(m_suite / ".zrxlibug");
    fs::rename(m_suite / ".zrxlibug-real", m_suite / ".zrxlibug");
    Environment env;
    env.IniFile = m_suite / "ZARNIX32.INI";
    const auto result = test::RunCli({"rollback", "--suite", m_suite.Dir()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(test::Contents(m_suite.Dir()), before);
}

// Swapped while a rollback restores: what the rollback restores is the record it opened, never an
// old element somebody put in the folder the link leads to.
TEST_F(RecordInputTest, ARecordFolderSwappedDuringTheRollbackIsNotRestoredFrom) {
    App& app = Run();
    fs::copy(m_suite / ".zrxlibug", m_outside / "fake", fs::copy_options::recursive);
    MakeLibrary(m_outside / "fake/history/run-1/attacker.PART", true, {PartJson("7400", "ATTACKER")});
    fs::remove(m_outside / "fake/history/run-1/old.PART");
    fs::rename(m_outside / "fake/history/run-1/attacker.PART", m_outside / "fake/history/run-1/old.PART");
    SetTestPoint([&](std::string_view moment) {
        if (moment != "rollback: the run's folder is open") return;
        fs::rename(m_suite / ".zrxlibug", m_suite / ".zrxlibug-real");
        fs::create_directory_symlink(m_outside / "fake", m_suite / ".zrxlibug");
    });
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    SetTestPoint({});
    EXPECT_EQ(result.outcome, Outcome::Restored) << result.message;
    const auto elements = test::LibraryNames(m_suite / "LIB/Logic.PART");
    EXPECT_EQ(elements, std::vector<std::string>{"7400"});
    std::string why;
    EXPECT_EQ(ExportElement(m_suite / "LIB/Logic.PART", "7400").value_or("").find("ATTACKER"),
              std::string::npos);
}

// A library left half-written beside a link to a library elsewhere: settling it never writes the
// library the link leads to.
TEST_F(RecordInputTest, SettlingLeftLibrariesFollowsNoLinkOut) {
    MakeLibrary(m_outside / "Victim.PART", true, {PartJson("V", "VICTIM")});
    fs::create_symlink(m_outside / "Victim.PART", m_suite / "LIB/Evil.PART");
    test::WriteFile(m_suite / "LIB/Evil.PART-wal", "");
    test::WriteFile(m_suite / "LIB/Evil.PART-journal", "");
    const auto victim = test::TreeSnapshot(m_outside.Path());
    App& app = Start();
    history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(test::TreeSnapshot(m_outside.Path()), victim);
}

// A record whose schema was changed answers nothing wrongly: it is refused as damaged, and no run
// is marked rolled back. A trigger could drop or undo what the program writes.
TEST_F(RecordInputTest, ARecordWhoseSchemaWasChangedIsRefused) {
    App& app = Run();
    Sql("CREATE TRIGGER keep BEFORE UPDATE ON runs BEGIN SELECT RAISE(IGNORE); END");
    const auto triggered = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(triggered.outcome, Outcome::NothingDone);
    EXPECT_NE(triggered.message.find("the trigger \"keep\""), std::string::npos) << triggered.message;
    Sql("DROP TRIGGER keep");
    Sql("ALTER TABLE changes DROP COLUMN done");
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, Outcome::NothingDone);
    EXPECT_NE(result.message.find("has no column done"), std::string::npos) << result.message;
}

// The lock file removed while a run holds the installation: the program's folder is locked too,
// and a rollback beside the run is refused.
TEST_F(RecordInputTest, RemovingTheLockFileLetsNoRollbackRunBesideARun) {
    Run();
    Environment env;
    env.IniFile = m_suite / "ZARNIX32.INI";
    InstallationLock lock(env);
    ASSERT_TRUE(lock.Held());
    fs::remove(m_suite / ".zrxlibug.lock");
    const auto result = test::RunCli({"rollback", "--suite", m_suite.Dir()});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("in progress"), std::string::npos) << result.err;
    // Something else in the lock file's place stops a run; it never runs unlocked for it.
    fs::remove(m_suite / ".zrxlibug.lock");
    fs::create_directory(m_suite / ".zrxlibug.lock");
    const auto blocked = test::RunCli({"apply", "--yes", "--suite", m_suite.Dir(), m_upgrade.Path()});
    EXPECT_EQ(blocked.status, 2) << blocked.err;
    EXPECT_NE(blocked.err.find("the lock file"), std::string::npos) << blocked.err;
}

// While the lock is held, the record is in the folder the lock was taken on, whatever the name
// leads to meanwhile; and nobody but the owner may rename that folder: an installation folder
// others can write is refused, one with its sticky bit taken.
TEST_F(RecordInputTest, TheRecordIsInTheFolderTheLockWasTakenOn) {
    Run();
    Environment env;
    env.IniFile = m_suite / "ZARNIX32.INI";
    {
        InstallationLock lock(env);
        ASSERT_TRUE(lock.Held()) << lock.Problem();
        fs::rename(m_suite / ".zrxlibug", m_suite / ".zrxlibug-locked");
        fs::create_directory(m_suite / ".zrxlibug");
        const auto folder = history::OpenRecordFolder(env, true);
        ASSERT_TRUE(test::Done(folder));
        struct stat opened {}, locked{};
        ASSERT_TRUE(folder->own.Info(opened));
        ASSERT_EQ(::stat((m_suite / ".zrxlibug-locked").c_str(), &locked), 0);
        EXPECT_EQ(opened.st_ino, locked.st_ino);
    }
    fs::remove(m_suite / ".zrxlibug");
    fs::rename(m_suite / ".zrxlibug-locked", m_suite / ".zrxlibug");
    fs::permissions(m_suite.Dir(), fs::perms::all);
    const auto refused = test::RunCli({"rollback", "--suite", m_suite.Dir()});
    EXPECT_EQ(refused.status, 2) << refused.out;
    EXPECT_NE(refused.err.find("can be written by other users"), std::string::npos) << refused.err;
    EXPECT_EQ(test::RunCli({"history", "--suite", m_suite.Dir()}).status, 2);
    fs::permissions(m_suite.Dir(), fs::perms::all | fs::perms::sticky_bit);
    const auto sticky = test::RunCli({"rollback", "--suite", m_suite.Dir()});
    EXPECT_EQ(sticky.status, 0) << sticky.err;
}

// FIFOs where the program reads (a library's journal, or its index beside a log; the installation's
// identity) are refused at once, never waited on.
TEST_F(RecordInputTest, AFifoBesideALibraryOrAtTheIdentityIsRefusedNotWaitedFor) {
    Run();
    const std::string library = m_suite / "LIB/Logic.PART";
    for (const char* side : {"-journal", "-shm"}) {
        if (std::string(side) == "-shm") test::WriteFile(library + "-wal", "");
        ASSERT_EQ(::mkfifo((library + side).c_str(), 0600), 0);
        for (const char* command : {"diff", "apply"}) {
            std::vector<std::string> args{command, "--suite", m_suite.Dir(), "--json", m_upgrade.Path()};
            if (std::string(command) == "apply") args.insert(args.begin() + 1, "--yes");
            const auto result = test::RunCli(args, {}, "timeout 30 ");
            EXPECT_NE(result.status, 124) << side << " " << command;
            EXPECT_NE((result.out + result.err).find("is not a regular file"), std::string::npos)
                << side << " " << command << result.out << result.err;
        }
        fs::remove(library + side);
        fs::remove(library + "-wal");
    }
    std::string why;
    EXPECT_NE(ExportElement(library, "7400").value_or("").find("NEW"), std::string::npos) << why;
    fs::remove(m_suite / ".zrxlibug.id");
    ASSERT_EQ(::mkfifo((m_suite / ".zrxlibug.id").c_str(), 0600), 0);
    for (const char* command : {"history", "rollback"}) {
        const auto result = test::RunCli({command, "--suite", m_suite.Dir()}, {}, "timeout 30 ");
        EXPECT_EQ(result.status, 2) << command << result.err;
        EXPECT_NE(result.err.find("is not an installation identity"), std::string::npos) << command << result.err;
    }
}

// Two installations that share a folder: a sweep of what killed programs left takes only files no
// running program holds.
TEST(LeftTemporariesTest, AFileARunningProgramWritesIsNeverSwept) {
    test::TempDir dir;
    const Directory folder = test::OpenFolder(dir.Path());
    auto held = folder.CreateTemporary("board.DAT");
    ASSERT_TRUE(test::Done(held));
    const std::string temp = held->name;
    const std::string dead = folder.CreateTemporary("other.DAT")->name;  // its program was killed
    test::WriteFile(dir / (dead + "-wal"), "side file");
    RemoveLeftTemporaries(folder);
    EXPECT_TRUE(fs::exists(dir / temp));
    EXPECT_FALSE(fs::exists(dir / dead));
    EXPECT_FALSE(fs::exists(dir / (dead + "-wal")));
    held->file.Close();
    RemoveLeftTemporaries(folder);
    EXPECT_FALSE(fs::exists(dir / temp));
}

// A run that replaces a library as a data file and then saves into it: a plain rollback takes the
// whole file back, the run's own saves with it, and calls nothing changed after the update.
TEST_F(RecordInputTest, ALibraryReplacedAsAFileAndThenSavedIntoComesBackWhole) {
    const auto before = test::Contents(m_suite.Dir());
    MakeLibrary(m_upgrade / "Logic.PART", true, {PartJson("7400", "AS FILE")});
    fs::last_write_time(m_upgrade / "Logic.PART", fs::file_time_type::clock::now() + std::chrono::hours(1));
    WriteList({"4,0,1,Logic.PART", "1,0,1,7400,Logic.PART", "1,0,1,7404,Logic.PART"});
    Run();
    const auto result = test::RunCli({"rollback", "--suite", m_suite.Dir()});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(test::Contents(m_suite.Dir()), before);
}

// A second name of a kept file that a run stopped before its row was written: the rollback lets go
// of it, so that the file has its one name again.
TEST_F(RecordInputTest, AKeptFileNoRowNamesIsLetGo) {
    App& app = Run();
    const std::string files = m_suite / ".zrxlibug/history/run-1/files";
    ASSERT_EQ(::link((m_suite / "JOB/cool.DAT").c_str(), (files + "/999").c_str()), 0);
    const auto result = history::Rollback(app.installation.env, std::nullopt, false);
    EXPECT_EQ(result.outcome, Outcome::Restored) << result.message;
    EXPECT_FALSE(fs::exists(files + "/999"));
    EXPECT_EQ(fs::hard_link_count(m_suite / "JOB/cool.DAT"), 1u);
}

// Reading the record while a killed run's log lies beside it without its index makes nothing
// beside it.
TEST_F(RecordInputTest, ReadingARecordWithALeftLogMakesNoIndexBesideIt) {
    Run();
    Sql("PRAGMA journal_mode=WAL; CREATE TABLE IF NOT EXISTS pad(x); INSERT INTO pad VALUES(1)");
    // A log with a commit in it, and no index beside it: as a killed writer leaves it.
    const std::string record = Record();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(record.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA wal_autocheckpoint=0; INSERT INTO pad VALUES(2)", nullptr, nullptr, nullptr);
    const pid_t child = fork();
    if (child == 0) {
        sqlite3_exec(db, "INSERT INTO pad VALUES(3)", nullptr, nullptr, nullptr);
        _exit(0);  // killed: the log stays
    }
    waitpid(child, nullptr, 0);
    fs::copy_file(record + "-wal", m_outside / "log");
    sqlite3_close(db);
    fs::copy_file(m_outside / "log", record + "-wal", fs::copy_options::overwrite_existing);
    fs::remove(record + "-shm");
    const auto listed = test::RunCli({"history", "--suite", m_suite.Dir()});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("1\t"), std::string::npos) << listed.out;
    EXPECT_FALSE(fs::exists(record + "-shm"));
}

// The record's rows of a run that changed nothing where it says (a save that never reached the
// disk): the rollback says how many it found as they were, so that its count and the history's agree.
TEST_F(RecordInputTest, ARollbackSaysWhatItFoundAsItWas) {
    Run();
    // The element as it was before the run: its row now names no change.
    ASSERT_EQ(test::RunCli({"rollback", "--suite", m_suite.Dir()}).status, 0);
    Sql("UPDATE runs SET state='complete'; UPDATE changes SET done=0");
    const auto again = test::RunCli({"rollback", "--suite", m_suite.Dir()});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("found as before the run"), std::string::npos) << again.out;
}

// A record made anew (its file was empty) finds run folders of a record that was lost: they are
// put aside, and the next run is recorded.
TEST_F(RecordInputTest, AnEmptyRecordBesideOldRunFoldersIsMadeAnewAndTheRunRecorded) {
    Run();
    fs::resize_file(Record(), 0);
    fs::remove(Record() + "-wal");
    fs::remove(Record() + "-shm");
    test::WriteFile(m_upgrade / "cool.DAT", "changed again");
    fs::last_write_time(m_upgrade / "cool.DAT", fs::file_time_type::clock::now() + std::chrono::hours(1));
    const auto applied = test::RunCli({"apply", "--suite", m_suite.Dir(), "--yes", m_upgrade.Path()});
    EXPECT_EQ(applied.status, 0) << applied.err;
    EXPECT_TRUE(fs::exists(m_suite / ".zrxlibug/history/lost-run-1"));
    EXPECT_NE(test::RunCli({"history", "--suite", m_suite.Dir()}).out.find("complete"), std::string::npos);
}

// Places are inside their folders only by whole components: "REGSXY" is not in "REGS", and a run
// that changed "OP2" does not stand in the way of undoing an older one that made "OP".
TEST(RecordPlaceTest, FoldersAreTellApartByWholeComponents) {
    Environment env;
    env.IniFile = "/opt/z/ZARNIX32.INI";
    env.ZSMsbk = "/opt/z/SBK/REGS";
    EXPECT_EQ(history::PlaceOf(env, "/opt/z/SBK/REGSXY/a.sbc")->root, 0);
    EXPECT_EQ(history::PlaceOf(env, "/opt/z/SBK/REGS/REGSXY/a.sbc")->relative, "REGSXY/a.sbc");
}

TEST_F(RecordInputTest, ANewerRunBesideTheFolderAnOlderOneMadeDoesNotHoldItBack) {
    App& app = Run();  // made ZSM_SBK/OPAMPS
    Sql("INSERT INTO runs(id, started, folder, state, roots) SELECT 2, started, folder, 'complete', roots "
        "FROM runs "
        "WHERE id=1; INSERT INTO changes(run, what, root, path, name, created) VALUES(2, 2, 8, "
        "'OPAMPS2/x.sbc', '', 1)");
    const auto result = history::Rollback(app.installation.env, app.run.lastRunId, false);
    EXPECT_EQ(result.message.find("is newer"), std::string::npos) << result.message;
    EXPECT_NE(result.outcome, Outcome::NothingDone) << result.message;
    // Inside it, it does.
    Sql("UPDATE runs SET state='complete' WHERE id=1; UPDATE changes SET done=0 WHERE run=1;"
        " UPDATE changes SET path='OPAMPS/x.sbc' WHERE run=2");
    EXPECT_NE(
        history::Rollback(app.installation.env, app.run.lastRunId, false).message.find("run 2 is newer"),
        std::string::npos);
}

}  // namespace
}  // namespace zrx
