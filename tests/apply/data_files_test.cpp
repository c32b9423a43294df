#include "apply/data_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>

#include <csignal>
#include <filesystem>
#include <map>

#include "history/rollback.h"
#include "support/folder.h"
#include "support/run_cli.h"
#include "support/upgrade_fixture.h"

namespace zrx {
namespace {

void SetMtime(const std::string& path, time_t when) {
    struct utimbuf times {when, when};
    ::utime(path.c_str(), &times);
}

time_t Mtime(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mtime;
}

size_t FileCount(const std::string& dir) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

// The builder's copy of a chosen file into the upgrade folder.
class InstallFileTest : public ::testing::Test {
protected:
    CopyOutcome Copy(const std::string& name) {
        return InstallFile(m_dialogs, test::OpenFolder(m_src.Path()), m_src.Path(),
                           test::OpenFolder(m_dest.Path()), m_dest.Path(), name, name)
            .outcome;
    }
    test::TempDir m_src, m_dest;
    ui::ScriptedDialogs m_dialogs;
};

TEST_F(InstallFileTest, ANewFileIsCopiedWithItsModificationTime) {
    test::WriteFile(m_src / "a.dat", "new");
    SetMtime(m_src / "a.dat", 1000000000);
    EXPECT_EQ(Copy("a.dat"), CopyOutcome::Copied);
    EXPECT_EQ(test::ReadFile(m_dest / "a.dat"), "new");
    EXPECT_EQ(Mtime(m_dest / "a.dat"), 1000000000);
    EXPECT_EQ(FileCount(m_dest.Path()), 1u);
}

TEST_F(InstallFileTest, ANewerSourceReplacesTheInstalledFile) {
    test::WriteFile(m_dest / "a.dat", "old");
    SetMtime(m_dest / "a.dat", 1000000000);
    test::WriteFile(m_src / "a.dat", "new");
    SetMtime(m_src / "a.dat", 1100000000);
    EXPECT_EQ(Copy("a.dat"), CopyOutcome::Copied);
    EXPECT_EQ(test::ReadFile(m_dest / "a.dat"), "new");
}

TEST_F(InstallFileTest, AnOlderSourceIsRefusedSubcircuitsToo) {
    for (const char* name : {"a.dat", "b.SBC"}) {
        test::WriteFile(m_dest / name, "installed");
        SetMtime(m_dest / name, 1100000000);
        test::WriteFile(m_src / name, "older");
        SetMtime(m_src / name, 1000000000);
        EXPECT_EQ(Copy(name), CopyOutcome::Failed) << name;
        EXPECT_EQ(test::ReadFile(m_dest / name), "installed");
    }
}

TEST_F(InstallFileTest, ALinkInPlaceOfTheTargetIsReplacedNotWrittenThrough) {
    test::WriteFile(m_src / "a.dat", "new");
    test::WriteFile(m_dest / "elsewhere", "kept");
    std::filesystem::create_symlink(m_dest / "elsewhere", m_dest / "a.dat");
    EXPECT_EQ(Copy("a.dat"), CopyOutcome::Copied);
    EXPECT_FALSE(std::filesystem::is_symlink(m_dest / "a.dat"));
    EXPECT_EQ(test::ReadFile(m_dest / "a.dat"), "new");
    EXPECT_EQ(test::ReadFile(m_dest / "elsewhere"), "kept");
}

TEST_F(InstallFileTest, AMissingSourceAsksAbortRetryOrIgnore) {
    m_dialogs.QueueAnswer(ui::Answer::Abort);
    EXPECT_EQ(Copy("gone.dat"), CopyOutcome::Failed);
    ASSERT_EQ(m_dialogs.Boxes().size(), 1u);
    const ui::MessageBox& box = m_dialogs.Boxes()[0];
    EXPECT_EQ(box.text, "Error occurred while attempting to copy file.  Could not locate file: \"" +
                            (m_src / "gone.dat") + "\"");
    EXPECT_EQ(box.title, "ZRXLIBUG Setup");
    EXPECT_EQ(box.buttons, ui::Buttons::AbortRetryIgnore);

    m_dialogs.ClearBoxes();
    m_dialogs.QueueAnswer(ui::Answer::Ignore);
    EXPECT_EQ(Copy("gone.dat"), CopyOutcome::Ignored);
    EXPECT_FALSE(std::filesystem::exists(m_dest / "gone.dat"));
    EXPECT_EQ(m_dialogs.Boxes().size(), 1u);

    // Retry finds the file once it is there.
    m_dialogs.ClearBoxes();
    m_dialogs.OnMessage([this](const ui::MessageBox&, ui::Answer) { test::WriteFile(m_src / "gone.dat", "here"); });
    m_dialogs.QueueAnswer(ui::Answer::Retry);
    EXPECT_EQ(Copy("gone.dat"), CopyOutcome::Copied);
    EXPECT_EQ(m_dialogs.Boxes().size(), 1u);
    EXPECT_EQ(test::ReadFile(m_dest / "gone.dat"), "here");
}

TEST_F(InstallFileTest, AFailedCopyLeavesTheOldFileAndNoTemporaryFile) {
    test::WriteFile(m_dest / "a.dat", "old");
    SetMtime(m_dest / "a.dat", 1000000000);
    test::WriteFile(m_src / "a.dat", std::string(4096, 'n'));
    // A file-size limit makes the copy fail half-way, as a full disk would.
    struct rlimit before {};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = before;
    small.rlim_cur = 100;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const CopyOutcome outcome = Copy("a.dat");
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(outcome, CopyOutcome::Failed);
    EXPECT_EQ(test::ReadFile(m_dest / "a.dat"), "old");
    EXPECT_EQ(FileCount(m_dest.Path()), 1u);
}

TEST(PathLengthTest, APathOfThePlatformsLimitIsRefused) {
    test::TempDir dir;
    EXPECT_TRUE(PathLengthOk(dir / "f"));
    EXPECT_FALSE(PathLengthOk(std::string(5000, 'a')));
}

class CopyDataFilesTest : public test::UpgradeTest {};

TEST_F(CopyDataFilesTest, FilesGoToTheirDirectoriesAndRefusalsAreReported) {
    test::WriteFile(m_upgrade / "new.TAL", "tal");
    test::WriteFile(m_upgrade / "old.DAT", "older");
    SetMtime(m_upgrade / "old.DAT", 1000000000);
    test::WriteFile(m_suite / "JOB/old.DAT", "installed");
    test::WriteFile(m_upgrade / "op.sbc", "sbc");
    test::WriteFile(m_upgrade / "top.sbc", "top");
    // A subcircuit is copied whatever its date.
    test::WriteFile(m_upgrade / "aged.sbc", "older sbc");
    SetMtime(m_upgrade / "aged.sbc", 1000000000);
    test::WriteFile(m_suite / "ZSM_SBK/aged.sbc", "installed sbc");
    WriteList({"4,0,1,new.TAL", "4,0,2,old.DAT", "4,0,9,op.sbc,OPAMPS", "4,0,3,gone.spc", "4,0,9,top.sbc",
               "4,0,9,aged.sbc"});
    App& app = Open();
    m_dialogs.QueueAnswer(ui::Answer::Yes);
    m_dialogs.QueueAnswer(ui::Answer::Ignore);
    Update(app);
    EXPECT_EQ(BoxTexts()[1], "Cannot copy file   old.DAT");
    EXPECT_EQ(BoxTexts().size(), 3u);  // the confirmation, the refusal and the missing file; no box after Ignore
    EXPECT_EQ(StatusOf("new.TAL"), "Copied");
    EXPECT_EQ(StatusOf("old.DAT"), "Not copied");
    EXPECT_EQ(StatusOf("op.sbc"), "Copied");
    EXPECT_EQ(StatusOf("gone.spc"), "Not copied");
    EXPECT_EQ(test::ReadFile(m_suite / "LIB/new.TAL"), "tal");
    EXPECT_EQ(test::ReadFile(m_suite / "JOB/old.DAT"), "installed");
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_SBK/OPAMPS/op.sbc"), "sbc");
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_SBK/top.sbc"), "top");  // no subdirectory: the directory itself
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_SBK/aged.sbc"), "older sbc");
}

// A target that is a link to a file is written through and stays a link; the date that counts
// is the file's it leads to; a link to nothing is refused with a message that names it.
TEST_F(CopyDataFilesTest, ATargetThatIsALinkIsWrittenThroughOrRefused) {
    namespace fs = std::filesystem;
    const auto now = fs::file_time_type::clock::now();
    for (const char* name : {"linked.DAT", "newer.DAT", "dangling.DAT"}) {
        test::WriteFile(m_upgrade / name, std::string("upgrade's ") + name);
        fs::last_write_time(m_upgrade / name, now - std::chrono::hours(1));
    }
    test::WriteFile(m_suite / "SYS/real.DAT", "older, behind a link");
    fs::last_write_time(m_suite / "SYS/real.DAT", now - std::chrono::hours(2));
    test::WriteFile(m_suite / "SYS/newer-real.DAT", "newer, behind a link");
    fs::create_symlink(m_suite / "SYS/real.DAT", m_suite / "JOB/linked.DAT");
    fs::create_symlink(m_suite / "SYS/newer-real.DAT", m_suite / "JOB/newer.DAT");
    fs::create_symlink(m_suite / "SYS/nothing", m_suite / "JOB/dangling.DAT");
    WriteList({"4,0,2,linked.DAT", "4,0,2,newer.DAT", "4,0,2,dangling.DAT"});
    App& app = Open();
    Update(app);
    EXPECT_EQ(StatusOf("linked.DAT"), "Copied");
    EXPECT_TRUE(fs::is_symlink(m_suite / "JOB/linked.DAT"));
    EXPECT_EQ(test::ReadFile(m_suite / "SYS/real.DAT"), "upgrade's linked.DAT");
    EXPECT_EQ(StatusOf("newer.DAT"), "Not copied");
    EXPECT_EQ(test::ReadFile(m_suite / "SYS/newer-real.DAT"), "newer, behind a link");
    EXPECT_EQ(StatusOf("dangling.DAT"), "Not copied");
    EXPECT_TRUE(fs::is_symlink(m_suite / "JOB/dangling.DAT"));
    EXPECT_FALSE(fs::exists(m_suite / "SYS/nothing"));
    const auto boxes = BoxTexts();
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), "Cannot copy file   newer.DAT"), boxes.end());
    EXPECT_NE(std::find(boxes.begin(), boxes.end(),
                        "Cannot copy file   dangling.DAT: " + (m_suite / "JOB/dangling.DAT") +
                            " is a symbolic link that leads nowhere"),
              boxes.end());
}

// The INI and the program's own files are refused however the path to them is spelled: a folder
// named with "./", a link that leads to them.
TEST_F(CopyDataFilesTest, TheInstallationsOwnFilesAreNeverReplacedWhateverTheSpelling) {
    namespace fs = std::filesystem;
    m_suite.keys["SysDir"] = m_suite.Dir() + "/./";
    m_suite.WriteIni();
    const std::string ini = test::ReadFile(m_suite / "ZARNIX32.INI");
    fs::create_directory(m_suite / ".zrxlibug");  // an installation with an identity has its own folder
    test::WriteFile(m_suite / ".zrxlibug.id", "0123456789abcdef0123456789abcdef");
    fs::create_symlink(m_suite / "ZARNIX32.INI", m_suite / "JOB/cfg.ini");
    for (const char* name : {"ZARNIX32.INI", ".zrxlibug.id", "cfg.ini"}) test::WriteFile(m_upgrade / name, "taken over");
    WriteList({"4,0,3,ZARNIX32.INI,x", "4,0,3,.zrxlibug.id,x", "4,0,2,cfg.ini,x"});
    App& app = Open();
    Update(app);
    for (const char* name : {"ZARNIX32.INI", ".zrxlibug.id", "cfg.ini"}) EXPECT_EQ(StatusOf(name), "Not copied") << name;
    EXPECT_EQ(test::ReadFile(m_suite / "ZARNIX32.INI"), ini);
    EXPECT_EQ(test::ReadFile(m_suite / ".zrxlibug.id"), "0123456789abcdef0123456789abcdef");
}

TEST_F(CopyDataFilesTest, ALinkPlantedInASubdirectoryDoesNotCarryFilesOutside) {
    test::TempDir outside;
    std::filesystem::create_directory_symlink(outside.Path(), m_suite / "ZSM_SBK/EVIL");
    test::WriteFile(m_upgrade / "op.sbc", "sbc");
    WriteList({"4,0,9,op.sbc,EVIL"});
    App& app = Open();
    Update(app);
    EXPECT_EQ(StatusOf("op.sbc"), "Not copied");
    EXPECT_FALSE(std::filesystem::exists(outside / "op.sbc"));
    EXPECT_NE(BoxTexts().at(1).find("is not a folder (a link, or a file)"), std::string::npos)
        << BoxTexts().at(1);
}

// A link at a data file or an index file is written through only to a regular file in one of the
// nine data folders: never into the program's own folder (its record, its trusted keys) or another
// installation's, never to the INI, the lock or the identity, never out of the installation, never
// to a folder that only begins like a data folder's name ("JOBX" beside "JOB"), and never when
// another user made the link.
TEST_F(CopyDataFilesTest, ALinkLeadsOnlyToAFileOfTheDataFolders) {
    namespace fs = std::filesystem;
    test::TempDir outside;
    // The record and a trusted key exist: a run made them before.
    test::WriteFile(m_upgrade / "seed.DAT", "seed");
    WriteList({"4,0,2,seed.DAT"});
    ASSERT_EQ(test::RunCli({"apply", "--suite", m_suite.Dir(), "--yes", m_upgrade.Path()}).status, 0);
    ASSERT_EQ(test::RunCli({"key", "generate", "--no-password", outside / "k"}).status, 0);
    ASSERT_EQ(test::RunCli({"key", "trust", "--suite", m_suite.Dir(), outside / "k.pub"}).status, 0);
    const std::string trusted =
        m_suite / ".zrxlibug/trusted/" +
        fs::directory_iterator(m_suite / ".zrxlibug/trusted")->path().filename().string();
    test::WriteFile(outside / "victim.txt", "outside");
    fs::create_directories(m_suite / "JOBX");
    test::WriteFile(m_suite / "JOBX/beside.txt", "beside JOB");
    // Another installation's own folder inside a data folder, and a file a link of another user
    // leads to.
    fs::create_directories(m_suite / "JOB/other/.zrxlibug/trusted");
    test::WriteFile(m_suite / "JOB/other/.zrxlibug/trusted/key.pub", "another installation's key");
    test::WriteFile(m_suite / "JOB/theirs.DAT", "a file another user's link leads to");
    std::vector<std::pair<std::string, std::string>> links = {
        {"nested.TAL", m_suite / "JOB/other/.zrxlibug/trusted/key.pub"},
        {"record.TAL", m_suite / ".zrxlibug/history/history.db"},
        {"key.TAL", trusted},
        {"ini.TAL", m_suite / "ZARNIX32.INI"},
        {"lock.TAL", m_suite / ".zrxlibug.lock"},
        {"id.TAL", m_suite / ".zrxlibug.id"},
        {"out.TAL", outside / "victim.txt"},
        {"beside.TAL", m_suite / "JOBX/beside.txt"}};
    if (::geteuid() == 0) links.push_back({"theirs.TAL", m_suite / "JOB/theirs.DAT"});
    std::map<std::string, std::string> before;
    std::vector<std::string> rows;
    for (const auto& [name, target] : links) {
        fs::create_symlink(target, m_suite / ("LIB/" + name));
        if (name == "theirs.TAL") {
            ASSERT_EQ(::lchown((m_suite / ("LIB/" + name)).c_str(), 65534, 65534), 0);
        }
        test::WriteFile(m_upgrade / name, "the attacker's bytes");
        fs::last_write_time(m_upgrade / name, fs::file_time_type::clock::now() + std::chrono::hours(1));
        before[target] = test::Fingerprint(target);
        rows.push_back("4,0,1," + name);
    }
    // The index files, links out of the installation too.
    test::WriteFile(outside / "modpar.idx", "D||OUT|D0|x\r\n");
    fs::remove(m_suite / "ZSM_MOD/modpar.idx");
    fs::create_symlink(outside / "modpar.idx", m_suite / "ZSM_MOD/modpar.idx");
    before[outside / "modpar.idx"] = test::Fingerprint(outside / "modpar.idx");
    WriteList(rows);
    App& app = Open();
    Update(app);
    for (const auto& [name, target] : links) {
        EXPECT_EQ(StatusOf(name), "Not copied") << name << (BoxTexts().empty() ? "" : BoxTexts().back());
        // The record changes with every run; the rollback below finds it whole.
        if (name != "record.TAL") {
            EXPECT_EQ(test::Fingerprint(target), before[target]) << target;
        }
    }
    EXPECT_EQ(test::Fingerprint(outside / "modpar.idx"), before[outside / "modpar.idx"]);
    EXPECT_EQ(history::Rollback(app.installation.env, std::nullopt, false).outcome,
              history::RollbackResult::Outcome::Restored);  // the record is whole
}

// Names as long as a folder entry may be are copied (the temporary file beside them fits).
TEST_F(CopyDataFilesTest, AFileOfTheLongestNameIsCopied) {
    const std::string name = std::string(251, 'n') + ".DAT";
    test::WriteFile(m_upgrade / name, "long");
    WriteList({"4,0,2," + name});
    Update(Open());
    EXPECT_EQ(StatusOf(name), "Copied");
    EXPECT_EQ(test::ReadFile(m_suite / ("JOB/" + name)), "long");
}

// A FIFO in the upgrade's place of a data file is refused at once, not waited on.
TEST_F(CopyDataFilesTest, AFifoInTheUpgradeIsRefusedNotWaitedFor) {
    ASSERT_EQ(::mkfifo((m_upgrade / "pipe.DAT").c_str(), 0600), 0);
    WriteList({"4,0,2,pipe.DAT"});
    Update(Open());
    EXPECT_EQ(StatusOf("pipe.DAT"), "Not copied");
    EXPECT_FALSE(std::filesystem::exists(m_suite / "JOB/pipe.DAT"));
}

}  // namespace
}  // namespace zrx
