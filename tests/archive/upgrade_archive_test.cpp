// Upgrades that travel as one file: archives made by zip and bsdtar open as the folder they were made
// from, with its bytes and dates; our own zips read back here and with unzip and bsdtar; hostile
// archives are refused whole, with nothing written outside the destination and nothing left in it.
#include "archive/upgrade_archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <rapidcheck/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <zlib.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/directory.h"
#include "support/folder.h"
#include "support/temp_dir.h"
#include "upgrade_list/list_format.h"

namespace zrx::archive {
namespace {

using test::OpenFolder;

namespace fs = std::filesystem;

constexpr time_t kDate = 981173106;  // 2001-02-03 04:05:06 UTC, an even second as zip's dates need

// The rule for a name that the program passes: one an upgrade list can hold.
std::optional<std::string> PlainName(std::string_view name) { return UnlistableNameReason(name, true); }

// ---- Archives made here ----

enum class Format { Pax, Ustar, Zip, Cpio };
enum class Filter { None, Gzip, Xz, Bzip2 };

struct Item {
    std::string name;
    mode_t type = AE_IFREG;
    std::string data;
    std::string link;  // the target of a symbolic or hard link
    mode_t perm = 0644;
    time_t mtime = kDate;
};

Item File(std::string name, std::string data = "data") { return {std::move(name), AE_IFREG, std::move(data), {}}; }
Item Folder(std::string name) { return {std::move(name), AE_IFDIR, {}, {}, 0755}; }
Item Symlink(std::string name, std::string target) { return {std::move(name), AE_IFLNK, {}, std::move(target)}; }
Item HardLink(std::string name, std::string target) { return {std::move(name), AE_IFREG, {}, std::move(target)}; }
Item Special(std::string name, mode_t type) { return {std::move(name), type, {}, {}}; }

// Writes `items` as they are (no name is cleaned up) with libarchive; names are taken as UTF-8.
void MakeArchive(const std::string& path, const std::vector<Item>& items, Format format = Format::Pax,
                 Filter filter = Filter::None) {
    const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    ASSERT_NE(utf8, static_cast<locale_t>(0));
    const locale_t previous = ::uselocale(utf8);
    const std::unique_ptr<struct archive, int (*)(struct archive*)> writer(archive_write_new(), archive_write_free);
    const std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(), archive_entry_free);
    struct archive* a = writer.get();
    switch (format) {
        case Format::Pax: archive_write_set_format_pax_restricted(a); break;
        case Format::Ustar: archive_write_set_format_ustar(a); break;
        case Format::Zip: archive_write_set_format_zip(a); break;
        case Format::Cpio: archive_write_set_format_cpio(a); break;
    }
    switch (filter) {
        case Filter::None: break;
        case Filter::Gzip: archive_write_add_filter_gzip(a); break;
        case Filter::Xz: archive_write_add_filter_xz(a); break;
        case Filter::Bzip2: archive_write_add_filter_bzip2(a); break;
    }
    ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK) << archive_error_string(a);
    for (const Item& item : items) {
        archive_entry_clear(entry.get());
        archive_entry_copy_pathname(entry.get(), item.name.c_str());
        archive_entry_set_filetype(entry.get(), item.type);
        archive_entry_set_perm(entry.get(), item.perm);
        archive_entry_set_mtime(entry.get(), item.mtime, 0);
        if (item.type == AE_IFLNK) archive_entry_copy_symlink(entry.get(), item.link.c_str());
        else if (!item.link.empty()) archive_entry_copy_hardlink(entry.get(), item.link.c_str());
        if (item.type == AE_IFCHR) archive_entry_set_rdev(entry.get(), makedev(1, 3));
        archive_entry_set_size(entry.get(), item.type == AE_IFREG ? static_cast<la_int64_t>(item.data.size()) : 0);
        EXPECT_EQ(archive_write_header(a, entry.get()), ARCHIVE_OK) << item.name << ": " << archive_error_string(a);
        if (!item.data.empty()) archive_write_data(a, item.data.data(), item.data.size());
    }
    EXPECT_EQ(archive_write_close(a), ARCHIVE_OK);
    ::uselocale(previous);
    ::freelocale(utf8);
}

// A zip entry written byte by byte, so that its header can declare what its data is not.
struct RawZipEntry {
    std::string name;
    std::string content;
    uint64_t declared = 0;  // the uncompressed size the headers give
    uint16_t flags = 0;
    bool wrongCrc = false;
};

void Put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

std::string Deflated(const std::string& content) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, content.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// A deflated zip of `entries`; sizes beyond 4 GiB are declared in zip64 fields.
std::string RawZip(const std::vector<RawZipEntry>& entries) {
    std::string zip, central;
    for (const RawZipEntry& e : entries) {
        const std::string data = Deflated(e.content);
        const auto* bytes = reinterpret_cast<const Bytef*>(e.content.data());
        const uLong crc = crc32(0, bytes, static_cast<uInt>(e.content.size())) ^ (e.wrongCrc ? 1 : 0);
        const bool wide = e.declared >= 0xffffffffu;
        std::string extra;
        if (wide) Put(extra, 1, 2), Put(extra, 16, 2), Put(extra, e.declared, 8), Put(extra, data.size(), 8);
        const uint64_t offset = zip.size();
        Put(zip, 0x04034b50, 4), Put(zip, wide ? 45 : 20, 2), Put(zip, e.flags, 2), Put(zip, 8, 2);
        Put(zip, 0, 4), Put(zip, crc, 4);
        Put(zip, wide ? 0xffffffffu : data.size(), 4), Put(zip, wide ? 0xffffffffu : e.declared, 4);
        Put(zip, e.name.size(), 2), Put(zip, extra.size(), 2);
        zip += e.name + extra + data;
        Put(central, 0x02014b50, 4), Put(central, 0x0300 | 45, 2), Put(central, wide ? 45 : 20, 2);
        Put(central, e.flags, 2), Put(central, 8, 2), Put(central, 0, 4), Put(central, crc, 4);
        Put(central, wide ? 0xffffffffu : data.size(), 4), Put(central, wide ? 0xffffffffu : e.declared, 4);
        Put(central, e.name.size(), 2), Put(central, extra.size(), 2), Put(central, 0, 2), Put(central, 0, 2);
        Put(central, 0, 2), Put(central, uint64_t{0100644} << 16, 4), Put(central, offset, 4);
        central += e.name + extra;
    }
    const uint64_t start = zip.size();
    zip += central;
    Put(zip, 0x06054b50, 4), Put(zip, 0, 2), Put(zip, 0, 2), Put(zip, entries.size(), 2), Put(zip, entries.size(), 2);
    Put(zip, central.size(), 4), Put(zip, start, 4), Put(zip, 0, 2);
    return zip;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xff);
    return bytes;
}

void SetDate(const std::string& path, time_t date) {
    const struct timespec times[2] = {{date, 0}, {date, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

struct stat Stat(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

// ---- The destination ----

// A sandbox per test: archives are made in it, and "into" is the destination. A refused archive
// must leave the whole sandbox as it was: nothing outside "into", nothing inside it.
class ArchiveTest : public ::testing::Test {
public:
    const std::string& Sandbox() const { return m_sandbox.Path(); }

protected:
    void SetUp() override { fs::create_directory(Into()); }
    std::string Into() const { return m_sandbox / "into"; }
    void EmptyInto() const {
        fs::remove_all(Into());
        fs::create_directory(Into());
    }
    std::string Path(std::string_view name) const { return m_sandbox / name; }
    Unpacked Open(const std::string& archive, const Limits& limits = {}) const {
        return Unpack(archive, Into(), limits, PlainName);
    }
    Unpacked Refused(const std::string& archive, const Limits& limits = {}) const {
        const std::string before = test::TreeSnapshot(m_sandbox.Path());
        const Unpacked result = Open(archive, limits);
        EXPECT_FALSE(result.ok) << "opened as " << result.folder;
        EXPECT_FALSE(result.why.empty());
        EXPECT_TRUE(fs::is_empty(Into())) << test::TreeSnapshot(Into());
        EXPECT_EQ(test::TreeSnapshot(m_sandbox.Path()), before);
        return result;
    }
    // A tiny upgrade folder "Upgrade1" under "source": a list, a library larger than one read, a
    // data file, one file that may be run; every date kDate.
    std::string MakeSource() const {
        const std::string folder = m_sandbox / "source/Upgrade1";
        test::WriteFile(folder + "/Upgrade.lst", "ZRX upgrade list\r\n4,0,2,cool.DAT\r\n");
        test::WriteFile(folder + "/Logic.PART", RandomBytes(150000, 1));
        test::WriteFile(folder + "/cool.DAT", "cool");
        test::WriteFile(folder + "/setup.sh", "#!/bin/sh\n");
        fs::permissions(folder + "/setup.sh", fs::perms(0755));
        for (const char* name : kSourceNames) SetDate(folder + "/" + name, kDate);
        SetDate(folder, kDate);
        return folder;
    }
    // Every file of `source` is in `folder` with its bytes, date and mode, and nothing else is.
    static void ExpectSameFiles(const std::string& source, const std::string& folder) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
        EXPECT_EQ(names, std::set<std::string>(std::begin(kSourceNames), std::end(kSourceNames)));
        for (const char* name : kSourceNames) {
            const std::string path = folder + "/" + name;
            EXPECT_EQ(test::ReadFile(path), test::ReadFile(source + "/" + name)) << name;
            const struct stat info = Stat(path), original = Stat(source + "/" + name);
            EXPECT_TRUE(S_ISREG(info.st_mode)) << name;
            EXPECT_EQ(info.st_mtim.tv_sec, original.st_mtim.tv_sec) << name;
            EXPECT_EQ(info.st_mode & 07777, original.st_mode & 07777) << name;
        }
    }
    static constexpr const char* kSourceNames[] = {"Upgrade.lst", "Logic.PART", "cool.DAT", "setup.sh"};

    test::TempDir m_sandbox;
};

// ---- Archives made by the tools people use ----

struct Made {
    const char* name;
    const char* archive;  // its file name in the sandbox
    const char* command;  // run with $S the source folder's parent and $A the archive's path
    bool inFolder;        // the archive holds the folder, not only its files
};

void PrintTo(const Made& made, std::ostream* out) { *out << made.name; }

class MadeByToolsTest : public ArchiveTest, public ::testing::WithParamInterface<Made> {};

TEST_P(MadeByToolsTest, OpensAsTheFolderItWasMadeFrom) {
    const std::string source = MakeSource();
    const std::string archive = Path(GetParam().archive);
    const std::string command = std::string("S='") + m_sandbox.Path() + "/source' A='" + archive + "'; " +
                                GetParam().command + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    const Unpacked result = Open(archive);
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_EQ(result.folder, GetParam().inFolder ? Into() + "/Upgrade1" : Into());
    ExpectSameFiles(source, result.folder);
    if (GetParam().inFolder) {
        EXPECT_EQ(Stat(result.folder).st_mtim.tv_sec, kDate);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Archive, MadeByToolsTest,
    ::testing::Values(Made{"zip_of_folder", "up.zip", "cd \"$S\" && zip -qr \"$A\" Upgrade1", true},
                      Made{"zip_of_files", "up.ZIP", "cd \"$S/Upgrade1\" && zip -q \"$A\" *", false},
                      Made{"tar_gz", "up.tar.gz", "bsdtar -C \"$S\" -czf \"$A\" Upgrade1", true},
                      Made{"tar_xz", "up.txz", "bsdtar -C \"$S\" -cJf \"$A\" Upgrade1", true},
                      Made{"tar", "up.tar", "bsdtar -C \"$S\" -cf \"$A\" Upgrade1", true},
                      Made{"ustar_of_files", "up.tar", "cd \"$S/Upgrade1\" && bsdtar --format ustar -cf \"$A\" *",
                           false},
                      Made{"gnutar", "up.tgz", "bsdtar -C \"$S\" --format gnutar -czf \"$A\" Upgrade1", true}),
    [](const ::testing::TestParamInfo<Made>& made) { return std::string(made.param.name); });

TEST(ArchiveName, KnowsTheSuffixesInAnyCase) {
    for (const char* name : {"u.zip", "u.ZIP", "a/u.tar", "u.tar.gz", "u.TGZ", "u.tar.xz", "u.Txz"})
        EXPECT_TRUE(IsArchiveName(name)) << name;
    for (const char* name : {"u", "zip", "u.gz", "u.xz", "u.tar.bz2", "u.7z", "Upgrade.lst", "u.zip/"})
        EXPECT_FALSE(IsArchiveName(name)) << name;
}

// ---- What the archive gives beyond the bytes ----

TEST_F(ArchiveTest, ModesAreTheOwnersPlusTheArchivesReadAndExecuteBits) {
    MakeArchive(Path("modes.tar"), {{"U/setuid", AE_IFREG, "x", {}, 04755},
                                    {"U/everyone", AE_IFREG, "x", {}, 0666},
                                    {"U/nobody", AE_IFREG, "x", {}, 0000},
                                    {"U/group", AE_IFREG, "x", {}, 02775},
                                    {"U/open/", AE_IFDIR, {}, {}, 0777},
                                    {"U/sticky/", AE_IFDIR, {}, {}, 01777}});
    const Unpacked result = Open(Path("modes.tar"));
    ASSERT_TRUE(result.ok) << result.why;
    const std::map<std::string, mode_t> expected = {{"setuid", 0755}, {"everyone", 0644}, {"nobody", 0600},
                                                    {"group", 0755},  {"open", 0755},     {"sticky", 0755}};
    for (const auto& [name, mode] : expected) EXPECT_EQ(Stat(result.folder + "/" + name).st_mode & 07777, mode) << name;
}

TEST_F(ArchiveTest, FoldersNeedNoEntriesOfTheirOwn) {
    MakeArchive(Path("implied.tar"), {File("U/a/b", "deep"), File("U/Upgrade.lst")});
    const Unpacked result = Open(Path("implied.tar"));
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_EQ(result.folder, Into() + "/U");
    EXPECT_EQ(test::ReadFile(Into() + "/U/a/b"), "deep");
    EXPECT_EQ(Stat(Into() + "/U/a").st_mode & 07777, 0700u);
}

TEST_F(ArchiveTest, TheUpgradeFolderIsTheOneFolderThatHoldsEverything) {
    const std::vector<std::pair<std::vector<Item>, std::string>> cases = {
        {{Folder("U/"), File("U/x")}, "/U"},
        {{Folder("U/")}, "/U"},
        {{File("U/x"), File("V/y")}, ""},
        {{Folder("U/"), File("x")}, ""},
        {{File("x"), File("U/y")}, ""},
        {{File("x")}, ""},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string archive = Path("layout" + std::to_string(i) + ".tar");
        MakeArchive(archive, cases[i].first);
        const Unpacked result = Open(archive);
        ASSERT_TRUE(result.ok) << result.why;
        EXPECT_EQ(result.folder, Into() + cases[i].second) << "case " << i;
        EmptyInto();
    }
}

TEST_F(ArchiveTest, NamesInUtf8AreKept) {
    MakeArchive(Path("utf8.tar"), {File("Café Ü.DAT", "é")});
    const Unpacked result = Open(Path("utf8.tar"));
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_EQ(test::ReadFile(Into() + "/Café Ü.DAT"), "é");
}

TEST_F(ArchiveTest, AFolderThatIsNotEmptyIsLeftAlone) {
    test::WriteFile(Into() + "/mine", "mine");
    MakeArchive(Path("good.tar"), {File("x")});
    const Unpacked result = Open(Path("good.tar"));
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.why.find("is not empty"), std::string::npos) << result.why;
    EXPECT_EQ(test::ReadFile(Into() + "/mine"), "mine");
    EXPECT_FALSE(fs::exists(Into() + "/x"));
}

// ---- Our own zips ----

TEST_F(ArchiveTest, WrittenZipReadsBackHereAndWithUnzipAndBsdtar) {
    const std::string source = MakeSource();
    const std::string zip = Path("out.zip");
    test::WriteFile(zip, "an older zip");
    const Outcome written =
        WriteZip(OpenFolder(source), {std::begin(kSourceNames), std::end(kSourceNames)}, zip);
    ASSERT_TRUE(written) << written.Why();
    for (const auto& entry : fs::directory_iterator(m_sandbox.Path()))
        EXPECT_EQ(entry.path().filename().string().find(".zrxtmp-"), std::string::npos) << entry.path();

    const Unpacked result = Open(zip);
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_EQ(result.folder, Into());
    ExpectSameFiles(source, result.folder);

    const std::string listing = Path("listing.txt");
    ASSERT_EQ(std::system(("unzip -l '" + zip + "' > '" + listing + "'").c_str()), 0);
    for (const char* name : kSourceNames) EXPECT_NE(test::ReadFile(listing).find(name), std::string::npos) << name;
    ASSERT_EQ(std::system(("unzip -tq '" + zip + "' >/dev/null").c_str()), 0);
    fs::create_directory(Path("unzip"));
    ASSERT_EQ(std::system(("unzip -q '" + zip + "' -d '" + Path("unzip") + "'").c_str()), 0);
    ExpectSameFiles(source, Path("unzip"));
    fs::create_directory(Path("bsdtar"));
    ASSERT_EQ(std::system(("bsdtar -xf '" + zip + "' -C '" + Path("bsdtar") + "'").c_str()), 0);
    ExpectSameFiles(source, Path("bsdtar"));
}

TEST_F(ArchiveTest, WrittenZipKeepsNamesInUtf8) {
    test::WriteFile(Path("f/Café.DAT"), "é");
    const Outcome written = WriteZip(OpenFolder(Path("f")), {"Café.DAT"}, Path("u.zip"));
    ASSERT_TRUE(written) << written.Why();
    const Unpacked result = Open(Path("u.zip"));
    ASSERT_TRUE(result.ok) << result.why;
    EXPECT_EQ(test::ReadFile(Into() + "/Café.DAT"), "é");
}

TEST_F(ArchiveTest, AZipThatCannotBeWrittenWholeLeavesTheOldOneAndNoTemporary) {
    const std::string source = MakeSource();
    ASSERT_EQ(::symlink("/etc/passwd", (source + "/linked").c_str()), 0);
    const std::string zip = Path("out.zip");
    test::WriteFile(zip, "an older zip");
    for (const std::vector<std::string>& names : std::vector<std::vector<std::string>>{
             {"Upgrade.lst", "missing.DAT"}, {"Upgrade.lst", "../source/Upgrade1/cool.DAT"}, {"linked"},
             {"cool.DAT", "cool.DAT"}}) {
        const Outcome written = WriteZip(OpenFolder(source), names, zip);
        EXPECT_FALSE(written) << names.back();
        EXPECT_FALSE(written.Why().empty());
        EXPECT_EQ(test::ReadFile(zip), "an older zip");
        for (const auto& entry : fs::directory_iterator(m_sandbox.Path()))
            EXPECT_EQ(entry.path().filename().string().find(".zrxtmp-"), std::string::npos) << entry.path();
    }
}

// ---- Hostile archives ----

// Makes a hostile archive at `archive`.
using Maker = std::function<void(const ArchiveTest& test, const std::string& archive)>;

struct Hostile {
    const char* name;
    Maker make;
    const char* archive;   // its file name in the sandbox
    std::string entry;     // the entry the refusal names, as shown ($S: the sandbox)
    const char* because;   // a part of the reason
};

void PrintTo(const Hostile& hostile, std::ostream* out) { *out << hostile.name; }

class HostileTest : public ArchiveTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileTest, IsRefusedWholeAndLeavesNothing) {
    const std::string archive = Path(GetParam().archive);
    GetParam().make(*this, archive);
    const Unpacked result = Refused(archive);
    std::string entry = GetParam().entry;
    if (entry.starts_with("$S")) entry.replace(0, 2, Sandbox());
    EXPECT_EQ(result.entry, entry);
    EXPECT_NE(result.why.find(GetParam().because), std::string::npos) << result.why;
    if (!result.entry.empty()) {
        EXPECT_NE(result.why.find("\"" + result.entry + "\""), std::string::npos) << result.why;
    }
    EXPECT_EQ(result.why.find('\n'), std::string::npos);
    EXPECT_EQ(result.why.find('\x1b'), std::string::npos);
}

// Each hostile archive begins with a good file: where the refusal comes after it was written, it
// must be taken away again.
Maker Archive(std::vector<Item> items, Format format = Format::Pax, Filter filter = Filter::None) {
    items.insert(items.begin(), File("ok.txt", "fine"));
    return [=](const ArchiveTest&, const std::string& path) { MakeArchive(path, items, format, filter); };
}

Maker Bytes(std::string bytes) {
    return [=](const ArchiveTest&, const std::string& path) { test::WriteFile(path, bytes); };
}

INSTANTIATE_TEST_SUITE_P(Archive, HostileTest,
                         ::testing::Values(Hostile{"parent", Archive({File("../x")}), "h.tar", "../x",
                                                   "goes up a folder"},
                                           Hostile{"absolute",
                                                   [](const ArchiveTest& test, const std::string& path) {
                                                       MakeArchive(path, {File("ok.txt"),
                                                                          File(test.Sandbox() + "/escaped")});
                                                   },
                                                   "h.tar", "$S/escaped", "absolute name"},
                                           Hostile{"climbs_from_a_folder",
                                                   Archive({File("a/b"), File("a/../../x")}), "h.tar",
                                                   "a/../../x", "goes up a folder"},
                                           Hostile{"symlink_then_file_through_it",
                                                   [](const ArchiveTest& test, const std::string& path) {
                                                       MakeArchive(path, {File("ok.txt"),
                                                                          Symlink("link", test.Sandbox()),
                                                                          File("link/x")});
                                                   },
                                                   "h.tar", "link", "symbolic link"},
                                           Hostile{"symlink_in_zip",
                                                   Archive({Symlink("link", "../.."), File("link/x")},
                                                           Format::Zip),
                                                   "h.zip", "link", "symbolic link"},
                                           Hostile{"hard_link", Archive({HardLink("b", "ok.txt")}), "h.tar",
                                                   "b", "hard link"},
                                           Hostile{
                                               "hard_link_out",
                                               Archive({HardLink("c", "../../../etc/passwd")}, Format::Ustar),
                                               "h.tar", "c", "hard link"},
                                           Hostile{"character_device",
                                                   Archive({Special("null", AE_IFCHR)}, Format::Ustar),
                                                   "h.tar", "null", "character device"},
                                           Hostile{"fifo", Archive({Special("pipe", AE_IFIFO)}), "h.tar",
                                                   "pipe", "FIFO"},
                                           Hostile{"newline_in_name", Archive({File("a\nb")}), "h.tar",
                                                   "a\\nb", "control character"},
                                           Hostile{"escape_in_name", Archive({File("\x1b[2Jred")}), "h.tar",
                                                   "\\e[2Jred", "control character"},
                                           Hostile{"bytes_not_utf8",
                                                   Archive({File("bad\x9b\n")}, Format::Ustar), "h.tar",
                                                   "bad\\x9b\\n", "control character"},
                                           Hostile{"drive_in_zip", Archive({File("C:evil")}, Format::Zip),
                                                   "h.zip", "C:evil", "a drive"},
                                           Hostile{"zip_without_its_end",
                                                   [](const ArchiveTest&, const std::string& path) {
                                                       MakeArchive(path,
                                                                   {File("ok.txt", "fine"),
                                                                    File("Upgrade.lst", "list")},
                                                                   Format::Zip);
                                                       const std::string whole = test::ReadFile(path);
                                                       test::WriteFile(
                                                           path,
                                                           whole.substr(
                                                               0, whole.rfind(
                                                                      "PK\x05\x06")));  // no end of central
                                                                                        // directory
                                                   },
                                                   "h.zip", "", "not a zip or tar archive"},
                                           Hostile{"latin1_name",
                                                   Archive({File("caf\xe9.DAT")}, Format::Ustar), "h.tar",
                                                   "caf\\xe9.DAT", "not UTF-8"},
                                           Hostile{
                                               "name_read_backwards",
                                               Archive({File("evil\xe2\x80\xaeTAL.exe")}), "h.tar",
                                               "evil\\xe2\\x80\\xaeTAL.exe", "reorders the text"},
                                           Hostile{
                                               "names_alike_but_for_case", Archive({File("cool.DAT"), File("COOL.dat")}),
                                               "h.tar", "COOL.dat", "only in letter case"},
                                           Hostile{"same_name_twice",
                                                   Archive({File("Upgrade.lst"), File("Upgrade.lst")}),
                                                   "h.tar", "Upgrade.lst", "same name as an earlier entry"},
                                           Hostile{"file_then_folder",
                                                   Archive({File("a"), File("a/b")}), "h.tar",
                                                   "a/b", "earlier entry is a file"},
                                           Hostile{"folder_then_file",
                                                   Archive({File("a/b"), File("a")}), "h.tar",
                                                   "a", "use its name as a folder"},
                                           Hostile{"dot_part", Archive({File("a/./x")}),
                                                   "h.tar", "a/./x", "\".\" part"},
                                           Hostile{"too_deep",
                                                   Archive({File("a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q")}),
                                                   "h.tar", "a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q",
                                                   "nested more than 16 folders deep"},
                                           Hostile{"part_too_long",
                                                   Archive({File("U/" + std::string(256, 'x'))}), "h.tar",
                                                   "U/" + std::string(198, 'x') + "...",
                                                   "longer than 255 bytes"},
                                           Hostile{"empty_part", Archive({File("a//b")}), "h.tar", "a//b",
                                                   "\".\" part"},
                                           Hostile{"encrypted_zip",
                                                   [](const ArchiveTest& test, const std::string& path) {
                                                       const std::string folder = test.Sandbox() + "/plain";
                                                       test::WriteFile(folder + "/Upgrade.lst",
                                                                       "secret list");
                                                       const std::string zip = "cd '" + folder +
                                                                               "' && zip -q -P secret '" +
                                                                               path + "' Upgrade.lst";
                                                       ASSERT_EQ(std::system(zip.c_str()), 0);
                                                       fs::remove_all(folder);
                                                   },
                                                   "h.zip", "Upgrade.lst", "encrypted"},
                                           Hostile{"zip_declares_10_gb",
                                                   Bytes(RawZip({{"ok.txt", "fine", 4},
                                                                 {"big.bin", "small", uint64_t{10} << 30}})),
                                                   "h.zip", "big.bin", "declares 10737418240 bytes"},
                                           Hostile{"zip_declares_less_than_it_holds",
                                                   Bytes(RawZip({{"ok.txt", "fine", 4},
                                                                 {"zeros.bin", std::string(5 << 20, '\0'),
                                                                  100}})),
                                                   "h.zip", "zeros.bin",
                                                   "unpacks to more than the archive may: the archive may "
                                                   "unpack to at most 200 times"},
                                           Hostile{"gzip_of_zeros",
                                                   Archive({File("zeros.bin", std::string(6 << 20, '\0'))},
                                                           Format::Pax, Filter::Gzip),
                                                   "h.tar.gz", "zeros.bin",
                                                   "declares 6291456 bytes, more than the archive may still "
                                                   "unpack to"},
                                           Hostile{"xz_of_zeros",
                                                   Archive({File("zeros.bin", std::string(8 << 20, '\0'))},
                                                           Format::Pax, Filter::Xz),
                                                   "h.tar.xz", "zeros.bin",
                                                   "declares 8388608 bytes, more than the archive may still "
                                                   "unpack to"},
                                           Hostile{"truncated",
                                                   [](const ArchiveTest&, const std::string& path) {
                                                       MakeArchive(path,
                                                                   {File("ok.txt"),
                                                                    File("big.bin", RandomBytes(200000, 2))},
                                                                   Format::Pax, Filter::Gzip);
                                                       fs::resize_file(path, fs::file_size(path) / 2);
                                                   },
                                                   "h.tar.gz", "", "damaged"},
                                           Hostile{"zip_with_wrong_crc",
                                                   Bytes(RawZip({{"ok.txt", "fine", 4},
                                                                 {"big.bin", RandomBytes(100000, 4), 100000,
                                                                  0, true}})),
                                                   "h.zip", "big.bin", "damaged"},
                                           Hostile{"bzip2_is_not_read",
                                                   Archive({}, Format::Pax, Filter::Bzip2), "h.tar.bz2", "",
                                                   "not a zip or tar archive"},
                                           Hostile{"cpio_is_not_read", Archive({}, Format::Cpio), "h.cpio",
                                                   "", "not a zip or tar archive"},
                                           Hostile{"random_bytes", Bytes(RandomBytes(3000, 3)), "h.zip", "",
                                                   "not a zip or tar archive"},
                                           Hostile{"empty_file", Bytes(""), "h.tar", "",
                                                   "not a zip or tar archive"},
                                           Hostile{"no_entries",
                                                   [](const ArchiveTest&, const std::string& path) {
                                                       MakeArchive(path, {});
                                                   },
                                                   "h.tar", "", "holds no files or folders"}),
                         [](const ::testing::TestParamInfo<Hostile>& hostile) {
                             return std::string(hostile.param.name);
                         });

TEST_F(ArchiveTest, MoreEntriesThanTheLimitAreRefused) {
    // 200,000 empty files, made quickly through libarchive's writer.
    const std::string path = Path("many.tar.gz");
    struct archive* a = archive_write_new();
    archive_write_set_format_ustar(a);
    archive_write_add_filter_gzip(a);
    archive_write_set_filter_option(a, "gzip", "compression-level", "1");
    ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK);
    archive_entry* entry = archive_entry_new();
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, 0);
    for (int i = 0; i < 200000; ++i) {
        archive_entry_copy_pathname(entry, ("f" + std::to_string(i)).c_str());
        ASSERT_EQ(archive_write_header(a, entry), ARCHIVE_OK);
    }
    archive_entry_free(entry);
    archive_write_close(a);
    archive_write_free(a);

    const Unpacked result = Refused(path);
    EXPECT_EQ(result.entry, "");
    EXPECT_NE(result.why.find("more than 100000 entries"), std::string::npos) << result.why;
}

TEST_F(ArchiveTest, FilesAndTotalsBeyondTheLimitsAreRefused) {
    const std::string two = Path("two.tar.gz");  // about 150 bytes
    MakeArchive(two, {File("a", std::string(3000, 'a')), File("b", std::string(3000, 'b'))}, Format::Pax, Filter::Gzip);
    EXPECT_NE(Refused(two, {.fileBytes = 2999}).why.find("one file may hold"), std::string::npos);
    EXPECT_NE(Refused(two, {.totalBytes = 5999}).why.find("bytes in all"), std::string::npos);
    EXPECT_NE(Refused(two, {.ratio = 10}).why.find("times its own size"), std::string::npos);
    EXPECT_NE(Refused(two, {.entries = 1}).why.find("more than 1 entries"), std::string::npos);
    EXPECT_TRUE(Open(two, {.entries = 2, .fileBytes = 3000, .totalBytes = 6000}).ok);

    // One entry that names four files and folders.
    EmptyInto();
    MakeArchive(Path("deep.tar"), {File("a/b/c/d")});
    EXPECT_NE(Refused(Path("deep.tar"), {.entries = 3}).why.find("names more than 3 files and folders"),
              std::string::npos);
}

// ---- Any archive at all ----

// What an entry drawn at random is. An absolute name leads into the test's own sandbox, so that a
// fault would show there and nowhere else.
struct Drawn {
    std::string name;
    bool absolute = false;
    mode_t type = AE_IFREG;  // 0: a hard link
    std::string data;
};

// A name without the "./" tar writes before the names of the folder it was given.
std::string WithoutDotSlash(std::string name) {
    while (name.starts_with("./")) name.erase(0, 2);
    return name;
}

// Whether the rules refuse `entries`, worked out plainly: the names taken so far.
bool ShouldRefuse(const std::vector<Drawn>& entries) {
    std::map<std::string, char> taken;  // 'f' a file, 'd' a folder entry, 'i' a folder named on the way
    std::map<std::string, std::string> spellings;  // the names taken, by their upper case
    for (const Drawn& e : entries) {
        if ((e.type != AE_IFREG && e.type != AE_IFDIR) || e.absolute) return true;
        std::string name = WithoutDotSlash(e.name);
        if (name.empty() || name == ".") {  // the folder unpacked into: a folder entry of it is passed over
            if (e.type == AE_IFDIR) continue;
            return true;
        }
        if (e.type == AE_IFDIR && name.size() > 1 && name.ends_with("/")) name.pop_back();
        std::vector<std::string> parts;
        for (size_t start = 0;;) {
            const size_t slash = name.find('/', start);
            parts.push_back(name.substr(start, slash - start));
            if (slash == std::string::npos) break;
            start = slash + 1;
        }
        std::string key;
        for (size_t i = 0; i < parts.size(); ++i) {
            if (PlainName(parts[i])) return true;
            key += (i ? "/" : "") + parts[i];
            std::string upper = key;
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (!spellings.emplace(upper, key).second && spellings[upper] != key)
                return true;  // alike but for case
            const auto found = taken.find(key);
            if (i + 1 < parts.size()) {
                if (found != taken.end() && found->second == 'f') return true;
                taken.emplace(key, 'i');
            } else if (found == taken.end()) {
                taken.emplace(key, e.type == AE_IFDIR ? 'd' : 'f');
            } else if (found->second == 'i' && e.type == AE_IFDIR) {
                found->second = 'd';
            } else {
                return true;
            }
        }
    }
    return false;
}

RC_GTEST_PROP(UnpackProperty, RefusedAndEmptyOrEveryFileBeneathWithItsBytes, ()) {
    const bool zip = *rc::gen::arbitrary<bool>();
    // Mostly names and kinds that are allowed, so that about half the archives unpack.
    const auto component = rc::gen::weightedElement<std::string>(
        {{12, "a"}, {12, "b"}, {8, "A"}, {1, ".."}, {1, "."}, {1, ""}, {1, "x\ny"}});
    const auto kind = zip ? rc::gen::weightedElement<mode_t>({{12, AE_IFREG}, {6, AE_IFDIR}, {1, AE_IFLNK}})
                          : rc::gen::weightedElement<mode_t>(
                                {{12, AE_IFREG}, {6, AE_IFDIR}, {1, AE_IFLNK}, {1, AE_IFIFO}, {1, 0}});
    std::vector<Drawn> entries;
    const int count = *rc::gen::inRange(1, 7);
    for (int i = 0; i < count; ++i) {
        Drawn e;
        e.absolute = *rc::gen::weightedElement<bool>({{1, true}, {30, false}});
        const int parts = *rc::gen::inRange(1, 4);
        for (int p = 0; p < parts; ++p) e.name += (p ? "/" : "") + *component;
        e.type = *kind;
        if (e.type == AE_IFDIR && *rc::gen::arbitrary<bool>()) e.name += "/";
        // Names the writers would not write, or that read back as a folder: left out.
        if (e.name.empty() || (e.type != AE_IFDIR && e.name.ends_with("/"))) continue;
        if (e.type == AE_IFREG)
            e.data = *rc::gen::container<std::string>(*rc::gen::inRange(0, 40), rc::gen::arbitrary<char>());
        entries.push_back(e);
    }
    RC_PRE(!entries.empty());

    test::TempDir sandbox;
    const std::string archive = sandbox / (zip ? "a.zip" : "a.tar");
    std::vector<Item> items;
    for (const Drawn& e : entries) {
        const std::string name = e.absolute ? sandbox.Path() + "/out/" + e.name : e.name;
        if (e.type == 0) items.push_back(HardLink(name, "a"));
        else if (e.type == AE_IFLNK) items.push_back(Symlink(name, ".."));
        else items.push_back({name, e.type, e.data, {}, 0644});
    }
    MakeArchive(archive, items, zip ? Format::Zip : Format::Pax);
    const std::string into = sandbox / "into";
    fs::create_directory(into);
    const std::string before = test::TreeSnapshot(sandbox.Path());

    const Unpacked result = Unpack(archive, into, {}, PlainName);
    for (const Drawn& e : entries) {
        std::string shown = e.name;
        for (size_t at; (at = shown.find('\n')) != std::string::npos;) shown.replace(at, 1, "\\n");
        RC_LOG() << (e.absolute ? "absolute " : "") << "kind " << e.type << ": " << shown << "\n";
    }
    RC_LOG() << result.why << "\n";
    RC_TAG(result.ok ? "unpacked" : "refused");
    RC_ASSERT(result.ok == !ShouldRefuse(entries));
    if (!result.ok) {
        RC_ASSERT(fs::is_empty(into));
        RC_ASSERT(test::TreeSnapshot(sandbox.Path()) == before);
        return;
    }
    std::map<std::string, std::string> files;
    for (const Drawn& e : entries)
        if (e.type == AE_IFREG) files[WithoutDotSlash(e.name)] = e.data;
    size_t found = 0;
    for (const auto& entry : fs::recursive_directory_iterator(into)) {
        RC_ASSERT(!entry.is_symlink());
        RC_ASSERT(entry.is_directory() || entry.is_regular_file());
        if (!entry.is_regular_file()) continue;
        const std::string name = fs::relative(entry.path(), into).string();
        RC_ASSERT(files.count(name) == 1u);
        RC_ASSERT(test::ReadFile(entry.path().string()) == files[name]);
        ++found;
    }
    RC_ASSERT(found == files.size());
    std::set<std::string> top;
    for (const auto& entry : fs::directory_iterator(sandbox.Path())) top.insert(entry.path().filename().string());
    RC_ASSERT((top == std::set<std::string>{fs::path(archive).filename().string(), "into"}));
}

}  // namespace
}  // namespace zrx::archive
