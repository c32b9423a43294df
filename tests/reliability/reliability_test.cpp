// Upgrade folders from anywhere, damaged libraries, crashes, full disks and a second program:
// the program keeps working, loses nothing and writes nowhere it should not.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "apply/run_guard.h"
#include "kernel/installation.h"
#include "support/contents.h"
#include "support/folder.h"
#include "support/run_cli.h"
#include "support/upgrade_fixture.h"

namespace zrx {
namespace {

namespace fs = std::filesystem;
using test::RunCli;
using Snapshot = std::map<std::string, std::string>;

// Every file under a folder with its fingerprint (the program's own lock file, identity and undo
// record left out).
Snapshot Take(const std::string& root) {
    Snapshot snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_symlink() || !entry.is_regular_file()) continue;
        if (fs::relative(entry.path(), root).string().starts_with(".zrxlibug")) continue;
        snapshot[fs::relative(entry.path(), root).string()] = test::Fingerprint(entry.path().string());
    }
    return snapshot;
}

// SQLite's own check of a library. Opened for writing: after a killed writer, the first reader
// recovers the write-ahead log, which a read-only connection may not do.
std::string IntegrityOf(const std::string& library) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(library.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return "cannot open";
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr);
    std::string result = sqlite3_step(stmt) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))
                                                          : std::string("no answer: ") + sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

class HostileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunCli({"demo", m_dir.Path()}).status, 0);
        test::WriteFile(m_outside / "marker.txt", "outside the installation");
        m_before = Take(Suite());
        m_marker = test::Fingerprint(m_outside / "marker.txt");
    }
    std::string Suite() const { return m_dir / "suite"; }
    std::string Upgrade() const { return m_dir / "upgrade"; }
    void WriteList(const std::string& records) {
        test::WriteFile(Upgrade() + "/Upgrade.lst", std::string(kHeaderLine) + "\r\n" + records);
    }
    test::CliResult Apply() { return RunCli({"apply", "--suite", Suite(), "--yes", Upgrade()}); }
    void ExpectNothingChanged() {
        EXPECT_EQ(Take(Suite()), m_before);
        EXPECT_EQ(test::Fingerprint(m_outside / "marker.txt"), m_marker);
    }

    test::TempDir m_dir, m_outside;
    Snapshot m_before;
    std::string m_marker;
};

TEST_F(HostileTest, NamesThatLeaveTheirDirectoryAreRefused) {
    const std::vector<std::string> records = {
        "4,0,1,../../marker.txt\r\n", "4,0,1," + (m_outside / "marker.txt") + "\r\n", "4,0,1,C:marker.txt\r\n",
        "4,0,9,x.sbc,../../..\r\n",   "1,0,1,7400,../Logic.PART\r\n",               "4,0,1,a\x01" "b.dat\r\n",
        std::string("4,0,1,a\0b.dat\r\n", 16),                                      "2,0,1,S,sub\\Logic.SYMBOL,A_Upg.SYMBOL\r\n"};
    for (const std::string& record : records) {
        WriteList(record);
        const auto result = Apply();
        EXPECT_EQ(result.status, 2) << record;
        EXPECT_NE(result.err.find("Unsafe name in the upgrade list"), std::string::npos) << record << result.err;
        ExpectNothingChanged();
    }
}

TEST_F(HostileTest, ALinkInTheUpgradeFolderBringsNothingIn) {
    fs::create_symlink(m_outside / "marker.txt", Upgrade() + "/stolen.dat");
    WriteList("4,0,2,stolen.dat\r\n");
    const auto result = Apply();
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("is a symbolic link, not a file"), std::string::npos) << result.err;
    ExpectNothingChanged();
}

TEST_F(HostileTest, ALinkPlantedInATargetSubdirectoryCarriesNothingOut) {
    fs::create_directory_symlink(m_outside.Path(), Suite() + "/ZSM_SBK/PLANTED");
    m_before = Take(Suite());
    WriteList("4,0,9,LM2596.SBC,PLANTED\r\n");
    const auto result = Apply();
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("PLANTED is not a folder (a link, or a file)"), std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(m_outside / "LM2596.SBC"));
    // The subcircuit index lists every selected subcircuit, copied or not; nothing else changes.
    Snapshot after = Take(Suite());
    after.erase("ZSM_SBK/Subcir.idx");
    m_before.erase("ZSM_SBK/Subcir.idx");
    EXPECT_EQ(after, m_before);
    EXPECT_EQ(test::Fingerprint(m_outside / "marker.txt"), m_marker);
}

TEST_F(HostileTest, AnUpgradeLibraryThatIsNoLibraryOrOfTheOtherKindIsRefusedOnce) {
    test::WriteFile(Upgrade() + "/Upgrade.PART", "this is not a library");
    fs::copy_file(Suite() + "/LIB/Logic.PART", Upgrade() + "/A_Upg.SYMBOL",
                  fs::copy_options::overwrite_existing);  // a part library where symbols should be
    WriteList("1,0,1,74HC08,Logic.PART\r\n1,0,1,7400,Logic.PART\r\n2,0,1,AND3,Logic.SYMBOL,A_Upg.SYMBOL\r\n"
              "2,0,1,NAND2,Logic.SYMBOL,A_Upg.SYMBOL\r\n");
    const auto result = Apply();
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Upgrade.PART cannot be used: the file is not a library"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("A_Upg.SYMBOL cannot be used: the file is not a symbol library"), std::string::npos);
    EXPECT_EQ(result.err.find("Cannot load part   7400"), std::string::npos);  // said once, not per element
    ExpectNothingChanged();
}

TEST_F(HostileTest, AHugeLineOrAHugeListIsRefusedWithAMessage) {
    WriteList("7," + std::string(50 * 1024 * 1024, 'x') + "\r\n");
    auto result = Apply();
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("Make sure that Upgrade files are in the specified path"), std::string::npos);
    std::string many;
    many.reserve(1000000 * 24);
    for (int i = 0; i < 1000000; ++i) many += "1,0,1,P" + std::to_string(i) + ",Logic.PART\r\n";
    WriteList(many);
    result = Apply();
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("holds more than 500000 records"), std::string::npos) << result.err;
    ExpectNothingChanged();
}

// ---- Damaged and locked user libraries ------------------------------------------------------

class DamagedLibraryTest : public HostileTest {
protected:
    // Applies the demo's parts (to Logic.PART and Analog.PART) and checks that the damaged
    // library is refused with its reason, unchanged, while the other is written.
    void ExpectRefused(const std::string& damaged, const std::string& reason) {
        const std::string before = test::Fingerprint(Suite() + "/LIB/Logic.PART");
        WriteList("1,0,1,74HC08,Logic.PART\r\n1,0,1,7400,Logic.PART\r\n1,0,1,LM2596,Analog.PART\r\n");
        const auto result = Apply();
        EXPECT_EQ(result.status, 1) << damaged;
        EXPECT_NE(result.err.find("Logic.PART cannot be used: " + reason), std::string::npos) << result.err;
        EXPECT_EQ(test::Fingerprint(Suite() + "/LIB/Logic.PART"), before);
        EXPECT_NE(RunCli({"lib", "ls", Suite() + "/LIB/Analog.PART"}).out.find("LM2596"), std::string::npos);
    }
};

TEST_F(DamagedLibraryTest, ATruncatedLibraryIsRefused) {
    const std::string path = Suite() + "/LIB/Logic.PART";
    std::string bytes = test::ReadFile(path);
    test::WriteFile(path, bytes.substr(0, bytes.size() / 2));
    ExpectRefused("truncated", "the library is damaged");
}

TEST_F(DamagedLibraryTest, AFlippedByteIsRefused) {
    const std::string path = Suite() + "/LIB/Logic.PART";
    std::string bytes = test::ReadFile(path);
    bytes[bytes.size() - 3000] ^= 0x5A;
    bytes[4096 + 8] ^= 0x5A;
    test::WriteFile(path, bytes);
    ExpectRefused("flipped", "the library is damaged");
}

TEST_F(DamagedLibraryTest, ANewerFormatIsRefused) {
    sqlite3* db = nullptr;
    sqlite3_open((Suite() + "/LIB/Logic.PART").c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version=9", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ExpectRefused("newer", "the library was written by a newer version of the program");
}

TEST_F(DamagedLibraryTest, ALibraryLockedByAnotherProgramIsWaitedForThenRefused) {
    const std::string path = Suite() + "/LIB/Logic.PART";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        (void)!::write(ready[1], "x", 1);
        std::this_thread::sleep_for(std::chrono::seconds(30));
        _exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    // The kernel waits a tenth of a second for the lock here instead of five.
    test::ScopedEnv shortWait("ZRXKERNEL_LOCK_WAIT_MS", "100");
    ExpectRefused("locked", "the library is locked by another program");
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
}

// ---- A second program, a crash, a full disk --------------------------------------------------

TEST_F(HostileTest, ASecondProgramIsToldThatAnUpgradeIsInProgress) {
    Environment env;
    env.IniFile = Suite() + "/ZARNIX32.INI";
    InstallationLock lock(env);
    ASSERT_TRUE(lock.Held());
    const auto result = Apply();
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("An upgrade of this installation is in progress"), std::string::npos) << result.err;
    ExpectNothingChanged();
}

// A large generated upgrade of parts, models and files for the crash and disk tests.
class LargeUpgradeTest : public HostileTest {
protected:
    void SetUp() override {
        HostileTest::SetUp();
        std::vector<std::string> parts, models;
        std::string list;
        for (int i = 0; i < 1500; ++i) {
            parts.push_back(test::PartJson("GEN" + std::to_string(i), "generated"));
            list += "1,0,1,GEN" + std::to_string(i) + (i % 2 ? ",Logic.PART\r\n" : ",Gen.PART\r\n");
        }
        for (int i = 0; i < 300; ++i) {
            models.push_back(test::ModelJson("GM" + std::to_string(i), "D,diode", "model " + std::to_string(i)));
            list += "5,0,5,GM" + std::to_string(i) + ",Diodes.SML\r\n";
        }
        for (int i = 0; i < 200; ++i) {
            test::WriteFile(Upgrade() + "/f" + std::to_string(i) + ".DAT", std::string(8192, 'a' + i % 26));
            list += "4,0,2,f" + std::to_string(i) + ".DAT\r\n";
        }
        // Some that replace what the installation holds.
        parts.push_back(test::PartJson("7400", "generated"));
        list += "1,0,1,7400,Logic.PART\r\n";
        test::WriteFile(Upgrade() + "/board.DAT", "a newer board");
        fs::last_write_time(Upgrade() + "/board.DAT", fs::file_time_type::clock::now() + std::chrono::hours(1));
        list += "4,0,2,board.DAT\r\n";
        fs::remove(Upgrade() + "/Upgrade.PART");
        fs::remove(Upgrade() + "/Upgrade.SPARAM");
        test::MakeLibrary(Upgrade() + "/Upgrade.PART", true, parts);
        test::MakeLibrary(Upgrade() + "/Upgrade.SPARAM", false, models);
        E_FlushLibraries();
        WriteList(list);
        m_before = Take(Suite());
        for (const char* library : {"LIB/Logic.PART", "ZSM_MOD/Diodes.SML"}) m_beforeElements[library] = Elements(library);
        m_upgradeElements["LIB/Logic.PART"] = ElementsOf(Upgrade() + "/Upgrade.PART");
        m_upgradeElements["ZSM_MOD/Diodes.SML"] = ElementsOf(Upgrade() + "/Upgrade.SPARAM");
    }
    static std::map<std::string, std::string> ElementsOf(const std::string& path) {
        std::map<std::string, std::string> elements;
        const auto names = RunCli({"lib", "ls", path}).out;
        std::string error;
        std::istringstream lines(names);
        for (std::string name; std::getline(lines, name);) elements[name] = *ExportElement(path, name);
        return elements;
    }
    std::map<std::string, std::string> Elements(const std::string& library) { return ElementsOf(Suite() + "/" + library); }
    // Every library whole and sound, each element as before or as in the upgrade, each index file
    // as before or as after a complete run.
    void ExpectConsistent(const std::string& when, const std::map<std::string, std::string>& indexAfter) {
        for (const char* library : {"LIB/Logic.PART", "LIB/Gen.PART", "ZSM_MOD/Diodes.SML"}) {
            const std::string path = Suite() + "/" + library;
            if (!fs::exists(path)) continue;
            EXPECT_EQ(IntegrityOf(path), "ok") << library << " " << when;
            for (const auto& [name, json] : ElementsOf(path)) {
                const auto& before = m_beforeElements[library];
                const auto& upgrade = m_upgradeElements[library == std::string("LIB/Gen.PART") ? "LIB/Logic.PART" : library];
                const bool asBefore = before.count(name) && before.at(name) == json;
                const bool asUpgrade = upgrade.count(name) && upgrade.at(name) == json;
                EXPECT_TRUE(asBefore || asUpgrade) << name << " in " << library << " " << when;
            }
        }
        for (const auto& [index, after] : indexAfter) {
            const std::string now = test::ReadFile(Suite() + "/" + index);
            EXPECT_TRUE(now == test::ReadFile(m_snapshotDir / index) || now == after) << index << " " << when;
        }
        for (const auto& entry : fs::directory_iterator(Suite() + "/JOB")) {
            const std::string name = entry.path().filename().string();
            if (name.ends_with(".DAT") && name[0] == 'f') {
                EXPECT_EQ(fs::file_size(entry.path()), 8192u) << name;
            }
        }
    }
    std::map<std::string, std::map<std::string, std::string>> m_beforeElements, m_upgradeElements;
    test::TempDir m_snapshotDir;
};

TEST_F(LargeUpgradeTest, KillingTheRunAtAnyMomentLosesNothing) {
    for (const char* index : {"ZSM_MOD/modpar.idx", "ZSM_SBK/Subcir.idx"}) test::WriteFile(m_snapshotDir / index, test::ReadFile(Suite() + "/" + index));
    // The index files as a complete run leaves them, from a copy of the installation.
    const std::string copy = m_dir / "copy";
    fs::copy(m_dir / "suite", copy, fs::copy_options::recursive);
    std::string ini = test::ReadFile(copy + "/ZARNIX32.INI");
    for (size_t at; (at = ini.find(Suite())) != std::string::npos;) ini.replace(at, Suite().size(), copy);
    test::WriteFile(copy + "/ZARNIX32.INI", ini);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunCli({"apply", "--suite", copy, "--yes", Upgrade()}).status, 0);
    const auto fullRun = std::chrono::steady_clock::now() - start;
    std::map<std::string, std::string> indexAfter;
    for (const char* index : {"ZSM_MOD/modpar.idx", "ZSM_SBK/Subcir.idx"}) indexAfter[index] = test::ReadFile(copy + "/" + index);

    const std::string cli = test::BinDir() + "/zrxlibug-cli";
    for (int moment = 0; moment < 20; ++moment) {
        const pid_t child = fork();
        if (child == 0) {
            ::freopen("/dev/null", "w", stdout);
            ::freopen("/dev/null", "w", stderr);
            ::execl(cli.c_str(), cli.c_str(), "apply", "--suite", Suite().c_str(), "--yes", Upgrade().c_str(), nullptr);
            _exit(127);
        }
        std::this_thread::sleep_for(fullRun * (moment + 1) / 21);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        ExpectConsistent("after kill " + std::to_string(moment), indexAfter);
    }
    // A full run completes the upgrade and leaves no temporary file behind.
    const auto full = Apply();
    ASSERT_EQ(full.status, 0) << full.out << full.err;
    ExpectConsistent("after the full run", indexAfter);
    for (const auto& [index, after] : indexAfter) EXPECT_EQ(test::ReadFile(Suite() + "/" + index), after) << index;
    EXPECT_EQ(Elements("LIB/Logic.PART").count("GEN1"), 1u);
    for (const auto& entry : fs::recursive_directory_iterator(Suite()))
        EXPECT_EQ(entry.path().filename().string().find(".zrxtmp-"), std::string::npos) << entry.path();
}

// Killed at any moment, a run leaves a record from which a rollback brings back the installation as
// it was; a rollback killed at any moment is completed by the next one.
TEST_F(LargeUpgradeTest, KillingTheRunThenRollingBackRestoresTheInstallation) {
    const auto before = test::Contents(Suite());
    const std::string cli = test::BinDir() + "/zrxlibug-cli";
    auto killAt = [&cli](std::vector<std::string> args, std::chrono::steady_clock::duration after) {
        const pid_t child = fork();
        if (child == 0) {
            ::freopen("/dev/null", "w", stdout);
            ::freopen("/dev/null", "w", stderr);
            std::vector<char*> argv{const_cast<char*>(cli.c_str())};
            for (std::string& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(cli.c_str(), argv.data());
            _exit(127);
        }
        std::this_thread::sleep_for(after);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    };
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Apply().status, 0);
    const auto fullRun = std::chrono::steady_clock::now() - start;
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunCli({"rollback", "--suite", Suite()}).status, 0);
    const auto fullRollback = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(test::Contents(Suite()), before);

    for (int moment = 0; moment < 20; ++moment) {
        killAt({"apply", "--suite", Suite(), "--yes", Upgrade()}, fullRun * (moment + 1) / 21);
        const auto rollback = RunCli({"rollback", "--suite", Suite()});
        // Killed before it recorded anything, a run leaves nothing to roll back.
        EXPECT_TRUE(rollback.status == 0 || rollback.status == 2) << rollback.err;
        EXPECT_EQ(test::Contents(Suite()), before) << "after kill " << moment << ": " << rollback.out << rollback.err;
    }
    for (int moment = 0; moment < 5; ++moment) {
        ASSERT_EQ(Apply().status, 0);
        killAt({"rollback", "--suite", Suite()}, fullRollback * (moment + 1) / 6);
        const auto again = RunCli({"rollback", "--suite", Suite()});
        // On a busy machine the killed rollback may have finished first: then there is nothing
        // left to do, and the installation must be whole all the same.
        EXPECT_TRUE(again.status == 0 || again.status == 2) << again.err;
        EXPECT_EQ(test::Contents(Suite()), before) << "after a rollback killed at " << moment;
        // The libraries are at rest again: no write-ahead log or shared memory beside them.
        for (const auto& entry : fs::recursive_directory_iterator(Suite())) {
            const std::string name = entry.path().filename().string();
            if (fs::relative(entry.path(), Suite()).string().starts_with(".zrxlibug")) continue;
            EXPECT_FALSE(name.ends_with("-wal") || name.ends_with("-shm")) << entry.path() << " at " << moment;
        }
    }
}

// A record that can no longer be written stops the run's changes right there: what it changed
// before is recorded, nothing after is changed, and a rollback gives back the installation.
TEST_F(LargeUpgradeTest, AFullDiskWhileRecordingStopsTheChangesWhereTheRecordStops) {
    const auto before = test::Contents(Suite());
    // Files may grow to 100 blocks: the record of the run soon cannot grow any more.
    const std::string command = "ulimit -f 100; exec " + test::Quote(test::BinDir() + "/zrxlibug-cli") + " apply --suite " +
                                test::Quote(Suite()) + " --yes " + test::Quote(Upgrade()) + " >" +
                                test::Quote(m_dir / "out") + " 2>" + test::Quote(m_dir / "err") + " </dev/null";
    const int raw = std::system(("sh -c " + test::Quote(command)).c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const std::string err = test::ReadFile(m_dir / "err");
    EXPECT_EQ(status, 1) << err;
    EXPECT_NE(err.find("The update could not be recorded for undo"), std::string::npos) << err;
    EXPECT_NE(ToUpper(test::ReadFile(m_dir / "out")).find("NOT COPIED"), std::string::npos);
    const auto rollback = RunCli({"rollback", "--suite", Suite()});
    EXPECT_EQ(rollback.status, 0) << rollback.err;
    EXPECT_EQ(test::Contents(Suite()), before);
    for (const auto& entry : fs::recursive_directory_iterator(Suite()))
        EXPECT_EQ(entry.path().filename().string().find(".zrxtmp-"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace zrx
