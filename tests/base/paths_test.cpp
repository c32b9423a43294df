#include "base/paths.h"
#include "base/directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/folder.h"
#include "support/temp_dir.h"
#include "ui/scripted_dialogs.h"

namespace zrx {
namespace {

TEST(AddTrailingSlashTest, TrimsAndEndsInOneSeparator) {
    std::string path = "/opt/LIB   ";
    AddTrailingSlash(path);
    EXPECT_EQ(path, "/opt/LIB/");
    path = "  /opt/LIB/ ";
    AddTrailingSlash(path);
    EXPECT_EQ(path, "/opt/LIB/");
    path = "";
    AddTrailingSlash(path);
    EXPECT_EQ(path, "/");
}

TEST(JoinPathTest, UsesExactlyOneSeparator) {
    EXPECT_EQ(JoinPath("/a/b", "c"), "/a/b/c");
    EXPECT_EQ(JoinPath("/a/b/", "c"), "/a/b/c");
    EXPECT_EQ(JoinPath("/", "c"), "/c");
    EXPECT_EQ(WithoutTrailingSeparator("/a/"), "/a");
    EXPECT_EQ(WithoutTrailingSeparator("/"), "/");
    EXPECT_EQ(FileNameOf("/a/b/c.sbc"), "c.sbc");
    EXPECT_EQ(FileNameOf("plain"), "plain");
}

TEST(ResolveNameInDirTest, FindsExactNameFirstThenIgnoringCase) {
    test::TempDir dir;
    test::WriteFile(dir / "UPGRADE.LST", "x");
    EXPECT_EQ(ResolveNameInDir(dir.Path(), "Upgrade.lst"), dir / "UPGRADE.LST");
    test::WriteFile(dir / "Upgrade.lst", "y");
    EXPECT_EQ(ResolveNameInDir(dir.Path(), "Upgrade.lst"), dir / "Upgrade.lst");
    EXPECT_EQ(ResolveNameInDir(dir.Path(), "none.txt"), dir / "none.txt");
}

// The lookup keeps what it read of a folder; every change made by someone else since must show.
TEST(ResolveNameInDirTest, SeesEveryChangeOfTheFolderSinceItWasRead) {
    test::TempDir dir;
    EXPECT_EQ(ResolveNameInDir(dir.Path(), "a.txt"), dir / "a.txt");
    test::WriteFile(dir / "A.TXT", "x");
    EXPECT_EQ(ResolveNameInDir(dir.Path(), "a.txt"), dir / "A.TXT");
    std::filesystem::rename(dir / "A.TXT", dir / "a.TxT");
    EXPECT_EQ(ResolveNameInDir(dir.Path(), "A.txt"), dir / "a.TxT");
    std::filesystem::remove(dir / "a.TxT");
    EXPECT_EQ(ResolveNameInDir(dir.Path(), "A.txt"), dir / "A.txt");
}

TEST(ResolveNameInDirTest, NamesTheCallerMakesAreAddedOnlyToAnUpToDateReading) {
    test::TempDir dir;
    std::string why;
    const Directory folder = test::OpenFolder(dir.Path());
    struct stat before {};
    // Read, then a file made by the caller and told: found without reading the folder again.
    EXPECT_EQ(folder.Spelling("new.dat"), "new.dat");
    ASSERT_TRUE(folder.Info(before));
    test::WriteFile(dir / "new.dat", "x");
    folder.NoteChange(before, "new.dat");
    EXPECT_EQ(ResolveNameInDir(dir.Path(), "NEW.DAT"), dir / "new.dat");
    // Someone else's file made before the caller's own is not hidden by it.
    test::WriteFile(dir / "OTHER.DAT", "y");
    ASSERT_TRUE(folder.Info(before));
    test::WriteFile(dir / "mine.dat", "z");
    folder.NoteChange(before, "mine.dat");
    EXPECT_EQ(folder.Spelling("other.dat"), "OTHER.DAT");
    EXPECT_EQ(ResolveNameInDir(dir.Path(), "MINE.DAT"), dir / "mine.dat");
    // A name the caller removed: of two names alike but for case, the other one is found then.
    test::WriteFile(dir / "TWO.DAT", "1");
    test::WriteFile(dir / "two.dat", "2");
    EXPECT_EQ(folder.Spelling("Two.dat"), "TWO.DAT");
    ASSERT_TRUE(folder.Info(before));
    std::filesystem::rename(dir / "TWO.DAT", dir / "three.dat");
    folder.NoteChange(before, "three.dat", "TWO.DAT");
    EXPECT_EQ(folder.Spelling("Two.dat"), "two.dat");
    EXPECT_EQ(ResolveNameInDir(dir.Path(), "THREE.dat"), dir / "three.dat");
}

TEST(CheckPathAvailableTest, AcceptsAnExistingDirectoryAndKeepsItsCase) {
    test::TempDir dir;
    std::filesystem::create_directory(dir / "MixedCase");
    std::string path = dir / "MixedCase";
    const std::string before = path;
    const auto cwd = std::filesystem::current_path();
    ui::ScriptedDialogs dialogs;
    EXPECT_EQ(CheckPathAvailable(path, dialogs), 0);
    EXPECT_EQ(path, before);
    EXPECT_EQ(std::filesystem::current_path(), cwd);
    EXPECT_TRUE(dialogs.Boxes().empty());
}

TEST(CheckPathAvailableTest, WarnsWithTheSystemReasonAsTitle) {
    test::TempDir dir;
    std::string path = dir / "missing";
    ui::ScriptedDialogs dialogs;
    EXPECT_EQ(CheckPathAvailable(path, dialogs), 1);
    ASSERT_EQ(dialogs.Boxes().size(), 1u);
    EXPECT_EQ(dialogs.Boxes()[0].text, "Path: " + (dir / "missing") + " not available");
    EXPECT_EQ(dialogs.Boxes()[0].title, "No such file or directory");
    EXPECT_EQ(dialogs.Boxes()[0].icon, ui::Icon::Warning);
}

TEST(CheckPathAvailableTest, AFileIsNotADirectory) {
    test::TempDir dir;
    test::WriteFile(dir / "file", "x");
    std::string path = dir / "file";
    ui::ScriptedDialogs dialogs;
    EXPECT_EQ(CheckPathAvailable(path, dialogs), 1);
    EXPECT_EQ(dialogs.Boxes().at(0).title, "Not a directory");
}

}  // namespace
}  // namespace zrx
