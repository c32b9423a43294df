// Signed upgrades end to end: a build's manifest and signature as sha256sum and minisign read
// them and the other way round, every way of tampering with an upgrade refused before anything of
// it is copied, an installation that trusts keys refusing what they did not sign, a file swapped
// after the check never installed, upgrades as zip and tar files.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <filesystem>

#include "base/directory.h"
#include "history/rollback.h"
#include "kernel/library_exchange.h"
#include "program/upgrade_pages.h"
#include "support/contents.h"
#include "support/folder.h"
#include "support/run_cli.h"
#include "support/upgrade_fixture.h"
#include "trust/manifest.h"
#include "trust/upgrade_check.h"
#include "upgrade_list/list_format.h"

namespace zrx {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::RunCli;

bool Have(const char* tool) { return std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) == 0; }

int Shell(const std::string& command) {
    const int raw = std::system(("sh -c " + Quote(command + " >/dev/null 2>&1")).c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// The demo installation, a key it trusts, and an upgrade built from it and signed with that key.
class SignedUpgradeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunCli({"demo", m_dir.Path()}).status, 0);
        ASSERT_EQ(RunCli({"key", "generate", m_dir / "maker", "--no-password"}).status, 0);
        const auto built = RunCli({"build", "--suite", Suite(), "--dest", Signed(), "--part", "Logic.PART:7400",
                                   "--part", "Logic.PART:7404", "--tal", "heatsink.TAL", "--sign", m_dir / "maker.key",
                                   "--comment", "Logic refresh"});
        ASSERT_EQ(built.status, 0) << built.err;
        ASSERT_EQ(RunCli({"key", "trust", m_dir / "maker.pub", "--suite", Suite()}).status, 0);
    }
    std::string Suite() const { return m_dir / "suite"; }
    std::string Signed() const { return m_dir / "signed"; }
    // A copy of the signed upgrade to spoil.
    std::string Copy(const std::string& name) const {
        const std::string copy = m_dir / name;
        fs::copy(Signed(), copy, fs::copy_options::recursive);
        return copy;
    }
    test::TempDir m_dir;
};

TEST_F(SignedUpgradeTest, TheBuildsManifestAndSignatureAreWhatTheToolsCheck) {
    EXPECT_EQ(Shell("cd " + Quote(Signed()) + " && sha256sum -c --strict Upgrade.sha256"), 0);
    const std::string manifest = test::ReadFile(Signed() + "/Upgrade.sha256");
    for (const char* file : {"Upgrade.lst", "Upgrade.PART", "heatsink.TAL"})
        EXPECT_NE(manifest.find(std::string("  ") + file + "\n"), std::string::npos) << file;
    if (Have("minisign")) {
        EXPECT_EQ(Shell("minisign -Vm " + Quote(Signed() + "/Upgrade.sha256") + " -p " + Quote(m_dir / "maker.pub")), 0);
    }
    const auto verified = RunCli({"verify", Signed(), "--suite", Suite(), "--json"});
    EXPECT_EQ(verified.status, 0);
    EXPECT_NE(verified.out.find("\"state\": \"signed\""), std::string::npos) << verified.out;
    EXPECT_NE(verified.out.find("Logic refresh; built "), std::string::npos) << verified.out;
    // An incomplete build writes no manifest, and leaves none of an earlier build behind.
    fs::remove(Signed() + "/heatsink.TAL");
    fs::create_directories(Signed() + "/heatsink.TAL");  // the copy of the file cannot be made
    EXPECT_EQ(RunCli({"build", "--suite", Suite(), "--dest", Signed(), "--tal", "heatsink.TAL"}).status, 1);
    EXPECT_FALSE(fs::exists(Signed() + "/Upgrade.sha256"));
    EXPECT_FALSE(fs::exists(Signed() + "/Upgrade.sha256.minisig"));
}

// A key kept under a password signs once the password is given (on standard input here, as a
// script gives it), and not with a wrong one.
TEST_F(SignedUpgradeTest, APasswordProtectedKeySignsWithItsPassword) {
    const std::string cli = Quote(test::BinDir() + "/zrxlibug-cli");
    ASSERT_EQ(Shell("printf 'pw1\\npw1\\n' | " + cli + " key generate " + Quote(m_dir / "locked")), 0);
    const auto build = [&](const std::string& password, const std::string& dest) {
        return Shell("echo " + password + " | " + cli + " build --suite " + Quote(Suite()) + " --dest " +
                     Quote(m_dir / dest) + " --part Logic.PART:7400 --sign " + Quote(m_dir / "locked.key"));
    };
    EXPECT_EQ(build("wrong", "bad"), 1);
    EXPECT_FALSE(fs::exists(m_dir / "bad/Upgrade.sha256.minisig"));
    ASSERT_EQ(build("pw1", "good"), 0);
    if (Have("minisign")) {
        EXPECT_EQ(Shell("minisign -Vm " + Quote(m_dir / "good/Upgrade.sha256") + " -p " +
                        Quote(m_dir / "locked.pub")),
                  0);
    }
}

// "Trusted" is said only once the installation reads the key back as every load does: a key file
// that others may write makes the trust unusable, and the command says so instead.
TEST_F(SignedUpgradeTest, AKeyIsTrustedOnlyWhenItIsReadBack) {
    ASSERT_EQ(RunCli({"key", "generate", m_dir / "second", "--no-password"}).status, 0);
    const std::string trusted = Suite() + "/.zrxlibug/trusted";
    const std::string makerFile = fs::directory_iterator(trusted)->path().string();
    fs::permissions(makerFile, fs::perms::group_write, fs::perm_options::add);
    const auto refused = RunCli({"key", "trust", m_dir / "second.pub", "--suite", Suite()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("trusted keys cannot be used"), std::string::npos) << refused.err;
    fs::permissions(makerFile, fs::perms::group_write, fs::perm_options::remove);
    const auto taken = RunCli({"key", "trust", m_dir / "second.pub", "--suite", Suite()});
    ASSERT_EQ(taken.status, 0) << taken.err;
    const std::string id = taken.out.substr(std::string("Trusted key ").size(), 16);
    EXPECT_NE(RunCli({"key", "list", "--suite", Suite()}).out.find(id), std::string::npos);
    EXPECT_EQ(RunCli({"key", "untrust", id, "--suite", Suite()}).status, 0);
    EXPECT_EQ(RunCli({"key", "list", "--suite", Suite()}).out.find(id), std::string::npos);
}

// A manifest signed by the minisign tool with a key it made is signed here too.
TEST_F(SignedUpgradeTest, AManifestSignedByMinisignIsSignedHere) {
    if (!Have("minisign")) GTEST_SKIP() << "minisign is not installed";
    const std::string folder = Copy("by-minisign");
    ASSERT_EQ(Shell("minisign -G -W -p " + Quote(m_dir / "tool.pub") + " -s " + Quote(m_dir / "tool.key")), 0);
    fs::remove(folder + "/Upgrade.sha256.minisig");
    ASSERT_EQ(Shell("minisign -S -s " + Quote(m_dir / "tool.key") + " -m " + Quote(folder + "/Upgrade.sha256") +
                    " -t 'signed by the tool'"),
              0);
    EXPECT_EQ(RunCli({"verify", folder, "--suite", Suite()}).status, 2);  // not trusted here: refused
    ASSERT_EQ(RunCli({"key", "trust", m_dir / "tool.pub", "--suite", Suite()}).status, 0);
    const auto verified = RunCli({"verify", folder, "--suite", Suite()});
    EXPECT_EQ(verified.status, 0) << verified.err;
    EXPECT_NE(verified.out.find("signed by key"), std::string::npos);
    EXPECT_NE(verified.out.find("(signed by the tool)"), std::string::npos) << verified.out;
}

// Each way of spoiling a signed upgrade, and what verify, the preview and apply make of it:
// nothing of a tampered upgrade is offered or copied.
TEST_F(SignedUpgradeTest, EveryTamperingIsFoundAndNothingIsCopied) {
    auto append = [](const std::string& file) { test::WriteFile(file, test::ReadFile(file) + "x"); };
    auto flip = [](const std::string& file) {
        std::string bytes = test::ReadFile(file);
        bytes[bytes.size() / 2] ^= 1;
        test::WriteFile(file, bytes);
    };
    const struct {
        const char* name;
        std::function<void(const std::string&)> spoil;
        const char* state;  // what verify says, with the installation's trust
        int status;
    } cases[] = {
        {"library", [&](const std::string& f) { flip(f + "/Upgrade.PART"); }, "tampered", 2},
        {"loose file", [&](const std::string& f) { append(f + "/heatsink.TAL"); }, "tampered", 2},
        {"list",
         [&](const std::string& f) {
             test::WriteFile(f + "/Upgrade.lst", test::ReadFile(f + "/Upgrade.lst") + "\r\n");
         },
         "tampered", 2},
        {"manifest", [&](const std::string& f) { flip(f + "/Upgrade.sha256"); }, "tampered", 2},
        {"signature", [&](const std::string& f) { flip(f + "/Upgrade.sha256.minisig"); }, "tampered", 2},
        {"file added to the list",
         [&](const std::string& f) {
             test::WriteFile(f + "/extra.DAT", "extra");
             std::string list = test::ReadFile(f + "/Upgrade.lst");
             list.insert(list.find("7,"), "4,0,2,extra.DAT\r\n");
             test::WriteFile(f + "/Upgrade.lst", list);
         },
         "tampered", 2},
        {"file removed", [&](const std::string& f) { fs::remove(f + "/heatsink.TAL"); }, "tampered", 2},
        {"signature of an untrusted key",
         [&](const std::string& f) {
             RunCli({"key", "generate", f + "/../stranger", "--no-password"});
             RunCli({"build", "--suite", Suite(), "--dest", f, "--part", "Logic.PART:7400", "--sign", f + "/../stranger.key"});
         },
         "intact", 2},
        {"signature removed", [&](const std::string& f) { fs::remove(f + "/Upgrade.sha256.minisig"); },
         "intact", 2},
        {"manifest removed", [&](const std::string& f) { fs::remove(f + "/Upgrade.sha256"); }, "unverified",
         2},
        {"manifest in sha256sum's tagged form",
         [&](const std::string& f) {
             Shell("cd " + Quote(f) +
                   " && { sha256sum --tag Upgrade.lst Upgrade.PART heatsink.TAL > Upgrade.sha256; }");
             fs::remove(f + "/Upgrade.sha256.minisig");
         },
         "intact", 2},
        {"a digest that differs in its last hex digit",
         [&](const std::string& f) {
             std::string manifest = test::ReadFile(f + "/Upgrade.sha256");
             char& last = manifest[manifest.find("  Upgrade.lst") - 1];
             last = last == '0' ? '1' : '0';
             test::WriteFile(f + "/Upgrade.sha256", manifest);
         },
         "tampered", 2},
    };
    const auto before = test::Contents(Suite());
    for (const auto& c : cases) {
        const std::string folder = Copy(std::string("spoilt-") + c.name);
        c.spoil(folder);
        const auto verified = RunCli({"verify", folder, "--suite", Suite(), "--json"});
        EXPECT_EQ(verified.status, c.status) << c.name << ": " << verified.out;
        EXPECT_NE(verified.out.find(std::string("\"state\": \"") + c.state + "\""), std::string::npos)
            << c.name << ": " << verified.out;
        const auto applied = RunCli({"apply", "--suite", Suite(), "--yes", "--json", folder});
        EXPECT_EQ(applied.status, 2) << c.name;
        EXPECT_TRUE(test::Contents(Suite()) == before) << c.name;
    }
    // Without a trusted key an intact or unverified upgrade is offered; --allow-unsigned takes one
    // for this run where keys are trusted.
    const std::string unsigned_ = Copy("unsigned");
    fs::remove(unsigned_ + "/Upgrade.sha256.minisig");
    EXPECT_EQ(RunCli({"verify", unsigned_}).status, 0);
    const auto allowed = RunCli({"apply", "--suite", Suite(), "--yes", "--allow-unsigned", "--json", unsigned_});
    EXPECT_EQ(allowed.status, 0) << allowed.err;
    EXPECT_NE(allowed.out.find("\"state\": \"intact\""), std::string::npos) << allowed.out;
    EXPECT_NE(allowed.err.find("loaded although no key this installation trusts signed it"), std::string::npos)
        << allowed.err;
    // A private copy that cannot be written (a full disk) refuses the upgrade as a fault here, not
    // as a tampered upgrade.
    const auto full = RunCli({"show", "--suite", Suite(), "--json", Signed()}, {}, "ulimit -f 4; ");
    EXPECT_EQ(full.status, 2) << full.err;
    EXPECT_NE(full.err.find("cannot be copied to be checked"), std::string::npos) << full.err;
    EXPECT_EQ(full.err.find("not as it was made"), std::string::npos) << full.err;
}

// A file the check read and the run then finds changed in the upgrade folder is not the one
// installed: the run reads the list and libraries from the checked copy, and refuses a data file
// (checked where it lies) whose bytes are no longer those checked.
class CheckedCopyTest : public test::UpgradeTest {};

TEST_F(CheckedCopyTest, AFileSwappedAfterTheCheckIsNeverInstalled) {
    test::MakeLibrary(m_upgrade / "Upgrade.PART", true, {test::PartJson("7400", "CHECKED")});
    test::WriteFile(m_upgrade / "cool.DAT", "checked bytes");
    test::WriteFile(m_upgrade / "back.DAT", "checked too");
    test::WriteFile(m_suite / "JOB/cool.DAT", "installed bytes");
    WriteList({"1,0,1,7400,Logic.PART", "4,0,2,cool.DAT", "4,0,2,back.DAT"});
    ASSERT_TRUE(test::Done(trust::WriteManifest(test::OpenFolder(m_upgrade.Path()), m_upgrade.Path())));
    App& app = Open();
    EXPECT_EQ(app.verification.check.state, trust::UpgradeState::Intact);
    test::MakeLibrary(m_upgrade / "Upgrade.PART", true, {test::PartJson("7400", "SWAPPED")});
    // Swapped for the installed bytes: a preview that read them would call the file the same.
    test::WriteFile(m_upgrade / "cool.DAT", "installed bytes");
    // Changed and changed back: the bytes copied are the ones checked.
    test::WriteFile(m_upgrade / "back.DAT", "swapped too");
    test::WriteFile(m_upgrade / "back.DAT", "checked too");

    // The preview compares what was checked, and shows no side it cannot check.
    app.changeColumn.Refresh();
    const size_t cool = 1;
    ASSERT_EQ(std::string(app.upgrade.GridRows[cool].Name), "cool.DAT");
    EXPECT_EQ(app.changeColumn.Changes().changes[cool], preview::Change::Changed);
    const auto detail = app.changeColumn.Details({cool});
    ASSERT_EQ(detail.size(), 1u);
    EXPECT_EQ(detail[0].change, preview::Change::Unreadable);
    EXPECT_NE(detail[0].reason.find("changed in the upgrade folder after it was checked"), std::string::npos);
    EXPECT_EQ(detail[0].sides.upgrade, "");

    Update(app);
    EXPECT_NE(ExportElement(m_suite / "LIB/Logic.PART", "7400")->find("CHECKED"), std::string::npos);
    EXPECT_EQ(test::ReadFile(m_suite / "JOB/back.DAT"), "checked too");
    const std::vector<std::string> boxes = BoxTexts();
    EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), [](const std::string& text) {
        return text.find("cool.DAT: it was changed in the upgrade folder after it was checked") !=
               std::string::npos;
    })) << ::testing::PrintToString(boxes);
    EXPECT_EQ(StatusOf("cool.DAT").find("Copied"), std::string::npos) << StatusOf("cool.DAT");
    const auto runs = history::ListRuns(app.installation.env);
    ASSERT_TRUE(test::Done(runs));
    ASSERT_EQ(runs->size(), 1u);
    EXPECT_EQ((*runs)[0].verification, "intact");
}

// A data file named like a library or the list in another case is a file of its own; a
// subcircuit changed after its copy and before its index entry is not indexed from the change,
// and the run says so.
TEST_F(CheckedCopyTest, DataFilesAreReadAsThemselvesAndCheckedForTheIndexToo) {
    test::MakeLibrary(m_upgrade / "Upgrade.PART", true, {test::PartJson("7400", "CHECKED")});
    test::WriteFile(m_upgrade / "upgrade.part", "a data file, not a library");
    test::WriteFile(m_upgrade / "upgrade.LST", "a data file, not the list");
    test::WriteFile(m_suite / "ZSM_SBK/Subcir.idx", "X|UA741|library|uA741|OPAMPS| Opamp\r\n");
    test::WriteFile(m_upgrade / "LM2596.SBC",
                    ".SUBCKT LM2596 VIN OUT, macro\r\n*3A regulator, Regulator\r\n.ENDS\r\n");
    WriteList({"1,0,1,7400,Logic.PART", "4,0,1,upgrade.part", "4,0,1,upgrade.LST", "4,0,9,LM2596.SBC,REGS"});
    ASSERT_TRUE(test::Done(trust::WriteManifest(test::OpenFolder(m_upgrade.Path()), m_upgrade.Path())));
    App& app = Open();
    ASSERT_EQ(app.verification.check.state, trust::UpgradeState::Intact);
    ui::Label& status = app.window.main.F_Status;
    bool swapped = false;
    status.Subscribe([&] {
        if (!swapped && status.Caption().find("Updating Subcircuit index file") != std::string::npos) {
            swapped = true;
            test::WriteFile(m_upgrade / "LM2596.SBC", ".SUBCKT EVIL A B\r\n*evil, Evil\r\n.ENDS\r\n");
        }
    });
    Update(app);
    EXPECT_EQ(test::ReadFile(m_suite / "LIB/upgrade.part"), "a data file, not a library");
    EXPECT_EQ(test::ReadFile(m_suite / "LIB/upgrade.LST"), "a data file, not the list");
    ASSERT_TRUE(swapped);
    EXPECT_EQ(test::ReadFile(m_suite / "ZSM_SBK/Subcir.idx").find("EVIL"), std::string::npos);
    const std::vector<std::string> boxes = BoxTexts();
    EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), [](const std::string& text) {
        return text.find("Subcircuit index file LM2596.SBC: it was changed in the upgrade folder") !=
               std::string::npos;
    })) << ::testing::PrintToString(boxes);
}

// Upgrades as one file: a zip of the folder made by zip, a compressed tar made by bsdtar.
TEST_F(SignedUpgradeTest, ZipAndTarFilesOpenWhereFoldersDo) {
    if (!Have("zip") || !Have("bsdtar")) GTEST_SKIP() << "zip or bsdtar is not installed";
    ASSERT_EQ(Shell("cd " + Quote(m_dir.Path()) + " && zip -qr upgrade.zip signed"), 0);
    ASSERT_EQ(Shell("cd " + Quote(Signed()) + " && bsdtar -cJf ../upgrade.tar.xz ."), 0);
    ASSERT_EQ(RunCli({"build", "--suite", Suite(), "--dest", m_dir / "zipped", "--part", "Logic.PART:7400", "--archive",
                      m_dir / "ours.zip"})
                  .status,
              0);
    if (Have("unzip")) {
        EXPECT_EQ(Shell("unzip -l " + Quote(m_dir / "ours.zip") + " | grep -q Upgrade.sha256"), 0);
    }
    for (const char* file : {"upgrade.zip", "upgrade.tar.xz"}) {
        const auto shown = RunCli({"show", "--suite", Suite(), "--json", m_dir / file});
        EXPECT_EQ(shown.status, 0) << file << ": " << shown.err;
        EXPECT_NE(shown.out.find("\"state\": \"signed\""), std::string::npos) << file;
        EXPECT_NE(shown.out.find("heatsink.TAL"), std::string::npos) << file;
    }
    const auto ours = RunCli({"verify", m_dir / "ours.zip"});
    EXPECT_EQ(ours.status, 0) << ours.err;
    EXPECT_NE(ours.out.find("intact"), std::string::npos);
    // The unpacked copies are gone once the program ends.
    EXPECT_FALSE(fs::exists(Suite() + "/.zrxlibug/work") && !fs::is_empty(Suite() + "/.zrxlibug/work"));
}

// The builder reloads an upgrade only as it would load one: a tampered folder or a refused archive
// builds nothing, so nothing tampered is signed anew.
TEST_F(SignedUpgradeTest, AReloadIsCheckedAsAnyLoadIs) {
    const std::string spoilt = Copy("spoilt");
    test::WriteFile(spoilt + "/heatsink.TAL", "changed");
    auto rebuild = [&](const std::string& from, const std::string& dest) {
        return RunCli(
            {"build", "--suite", Suite(), "--dest", m_dir / dest, "--reload", from, "--allow-unsigned"});
    };
    const auto tampered = rebuild(spoilt, "from-spoilt");
    EXPECT_EQ(tampered.status, 2);
    EXPECT_NE(tampered.err.find("heatsink.TAL differs"), std::string::npos) << tampered.err;
    EXPECT_FALSE(fs::exists(m_dir / "from-spoilt"));
    EXPECT_EQ(rebuild(Signed(), "from-signed").status, 0);
    EXPECT_EQ(test::ReadFile(m_dir / "from-signed/heatsink.TAL"), test::ReadFile(Signed() + "/heatsink.TAL"));
    // What a reload cannot bring back is named in the folder the user chose, not in the private
    // copy it was read from.
    const std::string odd = Copy("odd");
    std::string list = test::ReadFile(odd + "/Upgrade.lst");
    list.insert(list.find("7,"), "4,0,5,Upgrade.PART,desc\r\n");
    test::WriteFile(odd + "/Upgrade.lst", list);
    fs::remove(odd + "/Upgrade.sha256.minisig");
    std::string why;
    ASSERT_TRUE(test::Done(trust::WriteManifest(test::OpenFolder(odd), odd)));
    const auto named = rebuild(odd, "from-odd");
    EXPECT_NE(named.err.find(odd + "/Upgrade.lst"), std::string::npos) << named.err;
    EXPECT_EQ(named.err.find(".zrxlibug"), std::string::npos) << named.err;
    if (!Have("bsdtar")) return;
    fs::create_symlink("/etc/passwd", spoilt + "/passwd");
    test::WriteFile(Copy("blank") + "/ lead.txt", "a name the list cannot hold");
    for (const char* folder : {"spoilt", "blank"}) {
        ASSERT_EQ(Shell("cd " + Quote(m_dir.Path()) + " && bsdtar -cf " + folder + ".tar " + folder), 0);
        EXPECT_EQ(rebuild(m_dir / (std::string(folder) + ".tar"), "from-tar").status, 2) << folder;
        EXPECT_FALSE(fs::exists(m_dir / "from-tar")) << folder;
    }
    EXPECT_EQ(
        RunCli({"build", "--suite", Suite(), "--dest", m_dir / "gz", "--archive", m_dir / "x.tar.gz"}).status,
        2);
}

// Any set of names and digests reads back from its manifest as it was written.
RC_GTEST_PROP(ManifestProperty, AManifestReadsBackAsItWasWritten, ()) {
    const auto names = *rc::gen::container<std::vector<std::string>>(
        rc::gen::nonEmpty(rc::gen::container<std::string>(rc::gen::oneOf(
            rc::gen::inRange<char>('a', 'z'), rc::gen::element<char>('.', ' ', '\\', '\n', '\r', '*', 'Z', '_')))));
    std::map<std::string, std::string> wanted;
    std::vector<trust::ManifestEntry> entries;
    for (const std::string& name : names) {
        if (name == "." || name == ".." || !wanted.emplace(name, std::string(64, 'a' + name.size() % 6)).second) continue;
        entries.push_back({name, wanted[name]});
    }
    std::string why;
    const auto read = trust::ReadManifest(trust::ManifestText(entries));
    RC_ASSERT(static_cast<bool>(read));
    RC_ASSERT(*read == wanted);
}

// A listed file that is missing and that the manifest does not name is tampering, not a file the
// run will miss; manifest lines that name no plain file of the folder are refused.
TEST_F(CheckedCopyTest, WhatTheManifestAndTheFolderLackIsTampering) {
    test::MakeLibrary(m_upgrade / "Upgrade.PART", true, {test::PartJson("7400", "CHECKED")});
    WriteList({"1,0,1,7400,Logic.PART", "4,0,2,ghost.DAT"});
    std::string why;
    ASSERT_TRUE(test::Done(trust::WriteManifest(test::OpenFolder(m_upgrade.Path()), m_upgrade.Path())));
    const auto check = trust::CheckUpgrade(m_upgrade.Path(), {});
    EXPECT_EQ(check.state, trust::UpgradeState::Tampered) << check.Describe();
    EXPECT_NE(check.Describe().find("ghost.DAT is missing"), std::string::npos) << check.Describe();
    const std::string digest(64, 'a');
    for (const char* name : {"../x", "a/b", ".", "./../x"})
        EXPECT_FALSE(trust::ReadManifest(digest + "  " + name + "\n")) << name;
    EXPECT_TRUE(trust::ReadManifest("SHA256 (./a.DAT) = " + digest + "\n")) << why;
}

// The manifest is read where it is found, by the one open that decides: a folder whose path leaves
// no room for the manifest's name (near the system's limit) is still checked from a private copy,
// and a file swapped after the check is not the one installed.
TEST_F(CheckedCopyTest, AManifestFoundByItsFolderHandleMakesThePrivateCopy) {
    std::string deep = m_upgrade.Path();
    while (deep.size() + 250 < 4080) deep += "/" + std::string(240, 'd');
    deep += "/" + std::string(4084 - deep.size() - 1, 'e');
    // The folder's path fits, the manifest's beside it does not.
    ASSERT_EQ(deep.size(), 4084u);
    fs::create_directories(fs::path(deep).parent_path());
    const std::string made = m_upgrade / "made";
    fs::create_directories(made);
    test::MakeLibrary(made + "/Upgrade.PART", true, {test::PartJson("7400", "CHECKED")});
    test::WriteFile(made + "/Upgrade.lst", std::string(kHeaderLine) + "\r\n1,0,1,7400,Logic.PART\r\n" +
                                               std::string(kEndLine) + "\r\n");
    fs::rename(made, deep);
    std::string why;
    const Directory folder = test::OpenFolder(deep);
    ASSERT_TRUE(test::Done(trust::WriteManifest(folder, deep)));
    App& app = Start();
    ASSERT_TRUE(LoadUpgrade(app, deep)) << (BoxTexts().empty() ? "" : BoxTexts().back());
    EXPECT_EQ(app.verification.check.state, trust::UpgradeState::Intact);
    EXPECT_NE(app.upgrade.UpgradeDir, deep);  // the private copy
    // The library swapped in the folder after the check: the run installs what was checked.
    const std::string swap = m_upgrade / "swap.PART";
    test::MakeLibrary(swap, true, {test::PartJson("7400", "SWAPPED")});
    ASSERT_EQ(::renameat(AT_FDCWD, swap.c_str(), folder.Fd(), "Upgrade.PART"), 0);
    app.window.main.F_Proceed.Click();
    Update(app);
    std::string error;
    EXPECT_NE(ExportElement(m_suite / "LIB/Logic.PART", "7400").value_or("").find("CHECKED"),
              std::string::npos);
}

// A FIFO in place of the manifest, its signature or a trusted key is refused at once: nothing
// waits for a writer that never comes.
TEST_F(SignedUpgradeTest, AFifoWhereAFileIsReadIsRefusedNotWaitedFor) {
    for (const char* name : {"Upgrade.sha256", "Upgrade.sha256.minisig"}) {
        const std::string folder = Copy(std::string("fifo-") + name);
        fs::remove(folder + "/" + name);
        ASSERT_EQ(::mkfifo((folder + "/" + name).c_str(), 0600), 0);
        const auto verified = RunCli({"verify", folder}, {}, "timeout 30 ");
        EXPECT_EQ(verified.status, 2) << name << verified.out << verified.err;
        EXPECT_NE((verified.out + verified.err).find("is not a regular file"), std::string::npos) << name;
    }
    ASSERT_EQ(::mkfifo((Suite() + "/.zrxlibug/trusted/pipe.pub").c_str(), 0600), 0);
    const auto shown = RunCli({"show", "--suite", Suite(), Signed()}, {}, "timeout 30 ");
    EXPECT_EQ(shown.status, 2) << shown.err;
    EXPECT_NE(shown.err.find("pipe.pub cannot be read as a file"), std::string::npos) << shown.err;
}

// The trusted keys cannot be taken away unnoticed: nobody else may rename the folder that holds
// them (the installation folder is writable by nobody else, or leaves each entry to its owner), and
// a folder gone missing is not taken for one that trusts nothing.
TEST_F(SignedUpgradeTest, TheTrustedKeysCannotBeTakenAwayUnnoticed) {
    const std::string plain = Copy("plain");
    fs::remove(plain + "/Upgrade.sha256");
    fs::remove(plain + "/Upgrade.sha256.minisig");
    EXPECT_EQ(RunCli({"show", "--suite", Suite(), plain}).status, 2);
    fs::permissions(Suite(), fs::perms::all);
    const auto open = RunCli({"show", "--suite", Suite(), Signed()});
    EXPECT_EQ(open.status, 2);
    EXPECT_NE(open.err.find("can be written by other users"), std::string::npos) << open.err;
    fs::permissions(Suite(), fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(RunCli({"show", "--suite", Suite(), Signed()}).status, 0);
    fs::permissions(Suite(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    // A signature speaks for what the build wrote: never in a folder others could change meanwhile.
    fs::create_directories(m_dir / "shared");
    fs::permissions(m_dir / "shared", fs::perms::all);
    const auto shared = RunCli({"build", "--suite", Suite(), "--dest", m_dir / "shared", "--part",
                                "Logic.PART:7400", "--sign", m_dir / "maker.key"});
    EXPECT_EQ(shared.status, 2) << shared.err;
    EXPECT_NE(shared.err.find("cannot be signed"), std::string::npos) << shared.err;
    EXPECT_TRUE(fs::is_empty(m_dir / "shared"));
    fs::rename(Suite() + "/.zrxlibug", m_dir / "away");
    for (const char* command : {"show", "apply"}) {
        std::vector<std::string> args{command, "--suite", Suite(), plain};
        if (std::string(command) == "apply") args.insert(args.begin() + 1, "--yes");
        const auto result = RunCli(args);
        EXPECT_EQ(result.status, 2) << command << result.out;
        EXPECT_NE(result.err.find("is missing, though the installation's identity"), std::string::npos)
            << command << result.err;
    }
    EXPECT_FALSE(fs::exists(Suite() + "/.zrxlibug"));
}

// Keys: a second key of a trusted key's id is refused, naming both; a device is no key file; a key
// pair is written whole or not at all; an untrusted signer's key is said to be unchecked.
TEST_F(SignedUpgradeTest, KeysAreTakenOnlyAsTheyAre) {
    std::string key = test::ReadFile(m_dir / "maker.pub");
    ASSERT_EQ(RunCli({"key", "generate", m_dir / "forger", "--no-password"}).status, 0);
    std::string forged = test::ReadFile(m_dir / "forger.pub");
    // The forger's key under the maker's id: the id is bytes 2 to 9 of the key's base64 line.
    const size_t line = key.find('\n') + 1, forgedLine = forged.find('\n') + 1;
    forged.replace(forgedLine, 14, key.substr(line, 14));
    test::WriteFile(m_dir / "forged.pub", forged);
    const auto refused = RunCli({"key", "trust", m_dir / "forged.pub", "--suite", Suite()});
    EXPECT_EQ(refused.status, 2) << refused.out;
    EXPECT_NE(refused.err.find("has the id"), std::string::npos) << refused.err;
    EXPECT_EQ(RunCli({"verify", Signed(), "--suite", Suite()}).status, 0);  // the genuine key still holds
    EXPECT_EQ(RunCli({"key", "trust", "/dev/zero", "--suite", Suite()}, {}, "timeout 30 ").status, 2);
    test::WriteFile(m_dir / "taken.key", "an older key");
    EXPECT_EQ(RunCli({"key", "generate", m_dir / "taken", "--no-password"}).status, 2);
    EXPECT_EQ(test::ReadFile(m_dir / "taken.key"), "an older key");
    EXPECT_FALSE(fs::exists(m_dir / "taken.pub"));
    EXPECT_EQ(RunCli({"verify", ""}).status, 2);
    const auto stranger = RunCli({"verify", Signed()});
    EXPECT_NE(stranger.out.find("not trusted (not checked)"), std::string::npos) << stranger.out;
    // Key text given where a key file is asked for is never repeated in a message.
    const auto built = RunCli({"build", "--suite", Suite(), "--dest", m_dir / "k", "--part",
                               "Logic.PART:7400", "--sign", test::ReadFile(m_dir / "maker.key")});
    EXPECT_EQ(built.err.find("RWRT"), std::string::npos) << built.err;
}

}  // namespace
}  // namespace zrx
