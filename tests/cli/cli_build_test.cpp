#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <thread>

#include "support/run_cli.h"
#include "upgrade_list/list_format.h"

namespace zrx {
namespace {

using test::RunCli;

std::string Element(const std::string& library, const std::string& name) {
    const auto result = RunCli({"lib", "show", library, name});
    return result.status == 0 ? result.out : "<missing " + name + " in " + library + ">";
}

// An upgrade built from one installation and applied to another carries every element and file
// over unchanged.
TEST(CliBuildTest, ARoundTripCarriesEveryElementAndFile) {
    test::TempDir dir;
    ASSERT_EQ(RunCli({"demo", dir / "target"}).status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the source's files are the newer ones
    ASSERT_EQ(RunCli({"demo", dir / "source"}).status, 0);
    const std::string src = dir / "source/suite", dst = dir / "target/suite", upgrade = dir / "built";
    const auto built = RunCli({"build",       "--suite",     src,
                               "--dest",      upgrade,       "--part",
                               "Logic.PART:7474",            "--part",
                               "Analog.PART:NE555",          "--symbol",
                               "Logic.SYMBOL:XOR2",          "--symbol",
                               "I_Analog.SYMBOL:TIMER555",   "--package",
                               "Standard.PACKAGE:SO14",      "--sparam",
                               "Vendor.SPARAM:MIRF540",      "--mparam",
                               "Mixed.MPARAM:PLL1",          "--tal",
                               "heatsink.TAL",               "--dat",
                               "board.DAT",                  "--spc",
                               "default.SPC",                "--sbc",
                               "REGS/LM7805.SBC",            "--misc",
                               src + "/ZSM_SBK/OPAMPS/UA741.SBC", "\\Zsm_wrk",
                               "Work copy, for reference"});
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_EQ(built.err, "Upgrade file(s) created\n");

    const auto applied = RunCli({"apply", "--suite", dst, "--yes", upgrade});
    ASSERT_EQ(applied.status, 0) << applied.out << applied.err;
    for (const auto& [library, name] : std::vector<std::pair<std::string, std::string>>{
             {"LIB/Logic.PART", "7474"},
             {"LIB/Analog.PART", "NE555"},
             {"LIB/Logic.SYMBOL", "XOR2"},
             {"LIB/I_Analog.SYMBOL", "TIMER555"},
             {"LIB/Standard.PACKAGE", "SO14"},
             {"ZSM_MOD/Vendor.SPARAM", "MIRF540"},
             {"LIB/Mixed.MPARAM", "PLL1"}})
        EXPECT_EQ(Element(dst + "/" + library, name), Element(src + "/" + library, name)) << name;
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"LIB/heatsink.TAL", "LIB/heatsink.TAL"},
             {"JOB/board.DAT", "JOB/board.DAT"},
             {"SYS/default.SPC", "SYS/default.SPC"},
             {"ZSM_SBK/REGS/LM7805.SBC", "ZSM_SBK/REGS/LM7805.SBC"},
             {"ZSM_SBK/OPAMPS/UA741.SBC", "ZSM_WRK/UA741.SBC"}})
        EXPECT_EQ(test::ReadFile(dst + "/" + to), test::ReadFile(src + "/" + from)) << to;
    // The subcircuit is listed once; a model of a .SPARAM library adds no model index line.
    const std::string subcir = test::ReadFile(dst + "/ZSM_SBK/Subcir.idx");
    EXPECT_EQ(subcir, test::ReadFile(src + "/ZSM_SBK/Subcir.idx"));
    EXPECT_EQ(test::ReadFile(dst + "/ZSM_MOD/modpar.idx"), test::ReadFile(src + "/ZSM_MOD/modpar.idx"));
    EXPECT_NE(applied.out.find("Work copy, for reference"), std::string::npos);
}

TEST(CliBuildTest, ReloadAndListOnlyRewriteTheList) {
    test::TempDir dir;
    ASSERT_EQ(RunCli({"demo", dir.Path()}).status, 0);
    const std::string suite = dir / "suite";
    const auto result = RunCli({"build", "--suite", suite, "--dest", dir / "again", "--list-only", "--reload",
                                dir / "upgrade", "--part", "Logic.PART:7400"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string list = test::ReadFile(dir / "again/Upgrade.lst");
    // The demo's parts come back, the new one is added once (and that is said), and so do the
    // files with a target and description.
    EXPECT_NE(list.find("1,0,1,74HC08,Logic.PART\r\n1,0,1,7400,Logic.PART\r\n"), std::string::npos);
    EXPECT_EQ(list.find("1,0,1,7400,Logic.PART\r\n1,0,1,7400"), std::string::npos);
    EXPECT_NE(result.err.find("Logic.PART:7400: 7400 is chosen already; it is taken once"), std::string::npos) << result.err;
    EXPECT_NE(list.find("4,0,1,release-notes.txt,Release notes\r\n"), std::string::npos) << list;
    EXPECT_NE(list.find("4,0,9,LM2596.SBC,REGS\r\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "again/Upgrade.PART"));

    EXPECT_EQ(RunCli({"build", "--suite", suite, "--dest", dir / "x", "--part", "Logic.PART:NOPE"}).status, 2);
    EXPECT_EQ(RunCli({"build", "--suite", suite, "--dest", dir / "x", "--misc", suite + "/LIB/heatsink.TAL", "\\Nowhere"}).status, 2);
    // A choice refused when it is made builds nothing; a record a reload cannot bring back is named,
    // and the build goes on without it (and says so in its status); a destination is taken without
    // blanks around it.
    for (const char* own : {"upgrade.lst", "UPGRADE.sha256", "Upgrade.sha256.minisig"}) {
        test::WriteFile(dir / (std::string("other/") + own), "not a loose file");
        EXPECT_EQ(RunCli({"build", "--suite", suite, "--dest", dir / "y", "--misc",
                          dir / (std::string("other/") + own), "\\Sys"})
                      .status,
                  2)
            << own;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "y/Upgrade.lst"));
    test::WriteFile(dir / "odd/Upgrade.lst", std::string(kHeaderLine) + "\r\n1,0,1,7400,Logic.PART\r\n4,0,3,upgrade.lst,n\r\n" +
                                                 std::string(kEndLine) + "\r\n");
    const auto reloaded = RunCli({"build", "--suite", suite, "--dest", dir / "z ", "--list-only", "--reload", dir / "odd"});
    EXPECT_EQ(reloaded.status, 1) << reloaded.err;
    EXPECT_NE(reloaded.err.find("\"upgrade.lst\" (the upgrade folder's own file of that name"), std::string::npos)
        << reloaded.err;
    EXPECT_NE(test::ReadFile(dir / "z/Upgrade.lst").find("1,0,1,7400,Logic.PART"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "z "));
}

TEST(CliBuildTest, TheExitStatusFollowsWhatThisBuildWrote) {
    test::TempDir dir;
    ASSERT_EQ(RunCli({"demo", dir.Path()}).status, 0);
    const std::string suite = dir / "suite", dest = dir / "out";
    ASSERT_EQ(RunCli({"build", "--suite", suite, "--dest", dest, "--list-only", "--part", "Logic.PART:7400"}).status, 0);
    const std::string before = test::ReadFile(dest + "/Upgrade.lst");
    // No byte may be written (the messages cannot be either): the new list cannot be, and the old
    // one stays.
    const auto limited = RunCli({"build", "--suite", suite, "--dest", dest, "--list-only", "--part", "Logic.PART:7404"},
                                {}, "ulimit -f 0; ");
    EXPECT_EQ(limited.status, 2);
    EXPECT_EQ(test::ReadFile(dest + "/Upgrade.lst"), before);

    // A loose file that could not be copied: the upgrade is incomplete.
    std::filesystem::create_directories(dest + "/heatsink.TAL");
    const auto incomplete = RunCli({"build", "--suite", suite, "--dest", dest, "--tal", "heatsink.TAL"});
    EXPECT_EQ(incomplete.status, 1);
    EXPECT_NE(incomplete.err.find("Cannot copy file   heatsink.TAL: a folder of that name is in the way"),
              std::string::npos)
        << incomplete.err;
    EXPECT_NE(incomplete.err.find("the upgrade is incomplete"), std::string::npos) << incomplete.err;
}

TEST(CliBuildTest, NamesArePlainButMayHoldTwoDots) {
    test::TempDir dir;
    ASSERT_EQ(RunCli({"demo", dir.Path()}).status, 0);
    const std::string suite = dir / "suite";
    const auto escaping = RunCli({"build", "--suite", suite, "--dest", dir / "x", "--sbc", "REGS/../LM7805.SBC"});
    EXPECT_EQ(escaping.status, 2);
    EXPECT_NE(escaping.err.find("is not a plain name"), std::string::npos) << escaping.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "x/Upgrade.lst"));
    // A name that reads as another ("\u202eLAT.exe.TAL" shows as "TAL.exe.TAL") is none either.
    test::WriteFile(suite + "/LIB/\xe2\x80\xaeLAT.exe.TAL", "reversed");
    const auto reversed = RunCli({"build", "--suite", suite, "--dest", dir / "r", "--tal", "\xe2\x80\xaeLAT.exe.TAL"});
    EXPECT_EQ(reversed.status, 2);
    EXPECT_NE(reversed.err.find("reorders the text"), std::string::npos) << reversed.err;
    EXPECT_EQ(reversed.err.find("\xe2\x80\xae"), std::string::npos) << reversed.err;

    test::WriteFile(suite + "/JOB/a..b.DAT", "dots");
    ASSERT_EQ(RunCli({"build", "--suite", suite, "--dest", dir / "dots", "--dat", "a..b.DAT"}).status, 0);
    const auto reloaded = RunCli({"build", "--suite", suite, "--dest", dir / "again", "--list-only", "--reload", dir / "dots"});
    EXPECT_EQ(reloaded.status, 0) << reloaded.err;
    EXPECT_NE(test::ReadFile(dir / "again/Upgrade.lst").find("\r\n4,0,2,a..b.DAT\r\n"), std::string::npos);
}

TEST(CliBuildTest, AMiscellaneousFileTakesTheWindowsDescriptionAndABareNameIsInTheCurrentFolder) {
    test::TempDir dir;
    ASSERT_EQ(RunCli({"demo", dir.Path()}).status, 0);
    const std::string suite = dir / "suite";
    const auto built = RunCli({"build", "--suite", suite, "--dest", dir / "m", "--list-only", "--misc",
                               suite + "/JOB/board.DAT", "\\Job", "--misc", "default.SPC", "\\Sys"},
                              suite + "/SYS");
    ASSERT_EQ(built.status, 0) << built.err;
    const std::string list = test::ReadFile(dir / "m/Upgrade.lst");
    EXPECT_NE(list.find("\r\n4,0,2,board.DAT,Zarnix32 Job Files\r\n"), std::string::npos) << list;
    EXPECT_NE(list.find("\r\n4,0,3,default.SPC,Zarnix32 System Files\r\n"), std::string::npos) << list;
}

// A build writes its own files, never through a link: links in their place in the destination stop
// the build before anything is written, and what they lead to is left as it was.
TEST(CliBuildTest, LinksInTheDestinationAreNeverWrittenThrough) {
    namespace fs = std::filesystem;
    test::TempDir dir, outside;
    ASSERT_EQ(RunCli({"demo", dir.Path()}).status, 0);
    const std::string suite = dir / "suite", dest = dir / "dest";
    ASSERT_EQ(RunCli({"lib", "new", outside / "victim.PART", "--kind", "part"}).status, 0);
    test::WriteFile(outside / "victim.txt", "victim");
    fs::create_directories(dest);
    fs::create_symlink(outside / "victim.PART", dest + "/Upgrade.PART");
    fs::create_symlink(outside / "victim.txt", dest + "/heatsink.TAL");
    const auto before = test::TreeSnapshot(outside.Path());
    const auto built = RunCli(
        {"build", "--suite", suite, "--dest", dest, "--part", "Logic.PART:7400", "--tal", "heatsink.TAL"});
    EXPECT_EQ(built.status, 2) << built.err;
    EXPECT_NE(built.err.find("symbolic links in place of files the build writes"), std::string::npos)
        << built.err;
    EXPECT_EQ(test::TreeSnapshot(outside.Path()), before);
    EXPECT_FALSE(fs::exists(dest + "/Upgrade.lst"));
    // Nor into the program's own folder, whose record and keys are no upgrade's.
    fs::create_directories(suite + "/.zrxlibug/history");
    const auto own = RunCli({"build", "--suite", suite, "--dest", suite + "/.zrxlibug/history", "--tal",
                             "heatsink.TAL"});
    EXPECT_EQ(own.status, 2) << own.err;
    EXPECT_NE(own.err.find("program's own folder"), std::string::npos) << own.err;
    EXPECT_TRUE(fs::is_empty(suite + "/.zrxlibug/history"));
    EXPECT_EQ(RunCli({"build", "--suite", suite, "--dest", suite + "/.zrxlibug/trusted/evil.pub/sub", "--tal",
                      "heatsink.TAL"})
                  .status,
              2);
    EXPECT_FALSE(fs::exists(suite + "/.zrxlibug/trusted"));
    fs::create_directory_symlink(suite + "/.zrxlibug/history", dir / "own");  // the same, by another name
    const auto linked = RunCli({"build", "--suite", suite, "--dest", dir / "own", "--tal", "heatsink.TAL"});
    EXPECT_EQ(linked.status, 2) << linked.err;
    EXPECT_NE(linked.err.find("lies in the program's own folder"), std::string::npos) << linked.err;
    EXPECT_TRUE(fs::is_empty(suite + "/.zrxlibug/history"));
}

// The zip may not take the place of a file the upgrade is made of; a zip and its folder offer the
// same, whole seconds or not.
TEST(CliBuildTest, TheZipTakesNoFileOfTheUpgradeAndOffersWhatItsFolderOffers) {
    test::TempDir dir;
    ASSERT_EQ(RunCli({"demo", dir.Path()}).status, 0);
    const std::string suite = dir / "suite";
    test::WriteFile(dir / "x/pack.zip", "a file chosen into the upgrade");
    const auto ontoChosen = RunCli({"build", "--suite", suite, "--dest", dir / "a", "--misc",
                                    dir / "x/pack.zip", "\\Sys", "--archive", dir / "x/pack.zip"});
    EXPECT_EQ(ontoChosen.status, 1) << ontoChosen.err;
    EXPECT_EQ(test::ReadFile(dir / "x/pack.zip"), "a file chosen into the upgrade");
    EXPECT_EQ(RunCli({"verify", dir / "a"}).status, 0);
    const auto ontoOwn = RunCli({"build", "--suite", suite, "--dest", dir / "b", "--part", "Logic.PART:7400",
                                 "--archive", dir / "b/Upgrade.lst.zip"});
    EXPECT_EQ(ontoOwn.status, 0) << ontoOwn.err;
    test::WriteFile(dir / "x/extra.zip", "a zip chosen as a loose file");
    const auto ontoFolders = RunCli({"build", "--suite", suite, "--dest", dir / "c", "--misc",
                                     dir / "x/extra.zip", "\\Sys", "--archive", dir / "c/extra.zip"});
    EXPECT_EQ(ontoFolders.status, 1) << ontoFolders.err;
    EXPECT_NE(ontoFolders.err.find("is a file of the upgrade folder"), std::string::npos) << ontoFolders.err;
    EXPECT_EQ(RunCli({"verify", dir / "c"}).status, 0);
    // Built from the installation, the zip offers the same as the installation holds.
    ASSERT_EQ(RunCli({"build", "--suite", suite, "--dest", dir / "d", "--part", "Logic.PART:7400", "--tal",
                      "heatsink.TAL", "--archive", dir / "d.zip"})
                  .status,
              0);
    const auto diffed = RunCli({"diff", "--suite", suite, dir / "d.zip"});
    EXPECT_EQ(diffed.status, 0) << diffed.out << diffed.err;
    EXPECT_EQ(diffed.out.find("older"), std::string::npos) << diffed.out;
}

// A list the builder wrote, with one file chosen twice (as a data file of the installation and as
// any file), reloads whole.
TEST(CliBuildTest, AListTheBuilderWroteReloadsWhole) {
    test::TempDir dir;
    ASSERT_EQ(RunCli({"demo", dir.Path()}).status, 0);
    const std::string suite = dir / "suite";
    ASSERT_EQ(RunCli({"build", "--suite", suite, "--dest", dir / "twice", "--tal", "heatsink.TAL", "--misc",
                      suite + "/LIB/heatsink.TAL", "\\Job", "also"})
                  .status,
              0);
    const auto reloaded =
        RunCli({"build", "--suite", suite, "--dest", dir / "again", "--reload", dir / "twice"});
    EXPECT_EQ(reloaded.status, 0) << reloaded.err;
    EXPECT_EQ(reloaded.err.find("not brought back"), std::string::npos) << reloaded.err;
    EXPECT_EQ(reloaded.err.find(".zrxlibug"), std::string::npos) << reloaded.err;
}

// An archive without a list says so, in the words verify uses; names that are not UTF-8 never stop
// a JSON document.
TEST(CliBuildTest, WhatTheProgramSaysOfOddUpgradesIsReadable) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    ASSERT_EQ(RunCli({"demo", dir.Path()}).status, 0);
    const std::string suite = dir / "suite";
    ASSERT_EQ(std::system(("cd " + test::Quote(dir / "upgrade") +
                           " && zip -q ../nolist.zip heatsink.TAL >/dev/null 2>&1")
                              .c_str()),
              0);
    const auto shown = RunCli({"show", "--suite", suite, dir / "nolist.zip"});
    EXPECT_EQ(shown.status, 2);
    EXPECT_NE(shown.err.find("it holds no upgrade list (Upgrade.lst) at its top"), std::string::npos)
        << shown.err;
    const std::string latin1 = dir / "caf\xe9";
    fs::rename(dir / "upgrade", latin1);
    for (const char* command : {"show", "diff", "apply"}) {
        std::vector<std::string> args{command, "--suite", suite, "--json", latin1};
        if (std::string(command) == "apply") args.insert(args.begin() + 1, "--yes");
        const auto result = RunCli(args);
        EXPECT_LT(result.status, 2) << command << result.err;
        EXPECT_TRUE(nlohmann::json::accept(result.out)) << command << result.out;
    }
    const auto history = RunCli({"history", "--suite", suite, "--json"});
    EXPECT_TRUE(nlohmann::json::accept(history.out)) << history.out;
}

}  // namespace
}  // namespace zrx
