#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/kernel_fixture.h"

namespace zrx {
namespace {

using test::KernelTest;

int32_t Load(const std::string& path, const char* kind, const std::string& name, int32_t slot) {
    const int32_t lib = E_OpenLibrary(path.c_str(), kind, 0);
    const int32_t cursor = E_OpenLibToRead(lib, name.c_str());
    const int32_t id = std::string(kind) == ZK_KIND_PART_LIBRARY ? D_LoadDevice(slot, cursor) : S_LoadSymbol(slot, cursor);
    E_CloseLibrary(lib);
    return id;
}

void RunSql(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// ---- Opening and refusing files ------------------------------------------------------------

TEST_F(KernelTest, RefusesEverythingThatIsNotALibraryOfTheKindAndLeavesItUntouched) {
    const std::string part = MakePartLibrary("ok.PART", Part("7400"));
    const std::string symbol = MakeSymbolLibrary("ok.SYMBOL", Sym("R", 1));
    test::WriteFile(m_dir / "text.PART", "this is not a library\n");
    test::WriteFile(m_dir / "empty.PART", "");
    RunSql(m_dir / "plain.PART", "CREATE TABLE t(x)");
    const std::string newer = MakePartLibrary("newer.PART", Part("7400"));
    E_FlushLibraries();
    RunSql(newer, "PRAGMA user_version=2");

    struct Case {
        std::string path;
        const char* kind;
        int32_t flag;
    };
    const Case cases[] = {{m_dir / "missing.PART", ZK_KIND_PART_LIBRARY, 0},
                          {m_dir / "text.PART", ZK_KIND_PART_LIBRARY, 0},
                          {m_dir / "text.PART", ZK_KIND_PART_LIBRARY, -1},
                          {m_dir / "empty.PART", ZK_KIND_PART_LIBRARY, -1},
                          {m_dir / "plain.PART", ZK_KIND_PART_LIBRARY, -1},
                          {symbol, ZK_KIND_PART_LIBRARY, 0},
                          {symbol, ZK_KIND_PART_LIBRARY, -1},
                          {part, ZK_KIND_SYMBOL_LIBRARY, -1},
                          {newer, ZK_KIND_PART_LIBRARY, 0},
                          {newer, ZK_KIND_PART_LIBRARY, -1},
                          {m_dir / "no/dir/x.PART", ZK_KIND_PART_LIBRARY, -1},
                          {part, "Other", 0}};
    for (const Case& c : cases) {
        const bool existed = std::filesystem::exists(c.path);
        const std::string before = test::Fingerprint(c.path);
        EXPECT_LT(E_OpenLibrary(c.path.c_str(), c.kind, c.flag), 1) << c.path << " " << c.flag;
        EXPECT_FALSE(std::string(E_LastError()).empty());
        EXPECT_EQ(std::filesystem::exists(c.path), existed) << c.path;
        EXPECT_EQ(test::Fingerprint(c.path), before) << c.path;
    }
}

TEST_F(KernelTest, ADamagedLibraryIsRefusedForWriting) {
    std::string elements;
    for (int i = 0; i < 200; ++i) elements += (i ? "," : "") + Part("P" + std::to_string(i));
    const std::string path = MakePartLibrary("big.PART", elements);
    E_FlushLibraries();
    std::string bytes = test::ReadFile(path);
    ASSERT_GT(bytes.size(), 8192u);
    bytes[bytes.size() / 2] ^= 0x5A;  // somewhere inside the element pages
    bytes[4096 + 10] ^= 0x5A;        // the b-tree header of the second page
    test::WriteFile(path, bytes);
    const std::string before = test::Fingerprint(path);
    EXPECT_LT(E_OpenLibrary(path.c_str(), ZK_KIND_PART_LIBRARY, -1), 1);
    EXPECT_EQ(std::string(E_LastError()), "the library is damaged");
    EXPECT_EQ(test::Fingerprint(path), before);
}

TEST_F(KernelTest, AChangedByteInsideAnElementMakesItUnreadable) {
    const std::string path = MakePartLibrary("one.PART", Part("7400", "UNIQUEMARKERTEXT"));
    E_FlushLibraries();
    std::string bytes = test::ReadFile(path);
    const auto at = bytes.find("UNIQUEMARKERTEXT");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'X';
    test::WriteFile(path, bytes);
    EXPECT_EQ(Load(path, ZK_KIND_PART_LIBRARY, "7400", ZK_SLOT_PART), 0);
}

TEST_F(KernelTest, WriteFlagCreatesAMissingLibraryOfTheKind) {
    const std::string path = m_dir / "new.SYMBOL";
    const int32_t lib = E_OpenLibrary(path.c_str(), ZK_KIND_SYMBOL_LIBRARY, -1);
    ASSERT_GT(lib, 0);
    EXPECT_EQ(E_GetLibDirName(lib, 0), nullptr);
    E_CloseLibrary(lib);
    EXPECT_GT(E_OpenLibrary(path.c_str(), ZK_KIND_SYMBOL_LIBRARY, 0), 0);
    EXPECT_LT(E_OpenLibrary(path.c_str(), ZK_KIND_PART_LIBRARY, 0), 1);
    E_FlushLibraries();
    // The new library was made aside and named when whole: no temporary file stays, and the file
    // has the permissions any new file gets.
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
        EXPECT_EQ(entry.path().filename().string().find("zrxtmp"), std::string::npos) << entry.path();
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST_F(KernelTest, CursorsTellWhetherAnElementIsReadableOrWritable) {
    const std::string path = MakePartLibrary("c.PART", Part("7400"));
    const int32_t reader = E_OpenLibrary(path.c_str(), ZK_KIND_PART_LIBRARY, 0);
    EXPECT_GT(E_OpenLibToRead(reader, "7400"), 0);
    EXPECT_EQ(E_OpenLibToRead(reader, "7401"), 0);
    EXPECT_EQ(E_OpenLibToRead(reader, "7400 "), 0);  // names compare exactly
    EXPECT_EQ(E_OpenLibToWrite(reader, "7400"), 0);  // a read handle cannot write
    // The program never waits on its own read lock: a lock wait would last the whole busy timeout
    // (seconds), so this bound tells a wait from none on any machine.
    const auto start = std::chrono::steady_clock::now();
    const int32_t writer = E_OpenLibrary(path.c_str(), ZK_KIND_PART_LIBRARY, -1);
    EXPECT_GT(E_OpenLibToWrite(writer, "new"), 0);
    EXPECT_NE(D_SaveDevice(D_CreateDevice(0, "new", "N", ""), E_OpenLibToWrite(writer, "new")), 0);
    EXPECT_EQ(E_FlushLibraries(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_GT(E_OpenLibToRead(reader, "new"), 0);
    EXPECT_EQ(E_OpenLibToWrite(writer, ""), 0);
    EXPECT_EQ(E_CloseLibrary(writer), 1);
    EXPECT_EQ(E_CloseLibrary(reader), 1);
    EXPECT_EQ(E_CloseLibrary(0), 0);
    EXPECT_EQ(E_OpenLibToRead(reader, "7400"), 0);  // a closed handle has no cursors
}

TEST_F(KernelTest, StoredElementsAreComparedCopiedDeletedAndDigestedAsTheyAre) {
    const std::string a = MakePartLibrary("a.PART", Part("7400") + "," + Part("7404", "OTHER"));
    const std::string b = MakePartLibrary("b.PART", Part("7400"));
    const std::string s = MakeSymbolLibrary("s.SYMBOL", Sym("Q1", 3));
    const int32_t ra = E_OpenLibrary(a.c_str(), ZK_KIND_PART_LIBRARY, 0);
    const int32_t wb = E_OpenLibrary(b.c_str(), ZK_KIND_PART_LIBRARY, -1);
    const int32_t rs = E_OpenLibrary(s.c_str(), ZK_KIND_SYMBOL_LIBRARY, 0);
    EXPECT_EQ(E_CompareElements(ra, "7400", wb, "7400"), 1);
    EXPECT_EQ(E_CompareElements(ra, "7404", wb, "7400"), 0);
    EXPECT_EQ(E_CompareElements(ra, "none", wb, "7400"), -1);
    EXPECT_EQ(E_CompareElements(ra, "7404", wb, "7404"), -2);
    EXPECT_EQ(E_CompareElements(ra, "7404", 999, "7404"), -3);
    const std::string digest = StringFromPointer(E_ElementDigest(ra, "7400"));
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(StringFromPointer(E_ElementDigest(wb, "7400")), digest);
    EXPECT_NE(StringFromPointer(E_ElementDigest(ra, "7404")), digest);
    EXPECT_EQ(StringFromPointer(E_ElementDigest(ra, "none")), "");
    // A copy is stored as it was, under the new name; only into a write handle of the same kind.
    EXPECT_EQ(E_CopyElement(ra, "7404", wb, "COPY"), 1);
    EXPECT_EQ(E_CopyElement(ra, "none", wb, "X"), -1);
    EXPECT_EQ(E_CopyElement(wb, "7400", ra, "X"), 0);
    EXPECT_EQ(E_CopyElement(rs, "Q1", wb, "X"), 0);
    EXPECT_EQ(StringFromPointer(E_ElementDigest(wb, "COPY")), StringFromPointer(E_ElementDigest(ra, "7404")));
    // One library on both sides: each file keeps only the element it read last.
    EXPECT_EQ(E_CompareElements(ra, "7400", ra, "7404"), 0);
    EXPECT_EQ(E_CompareElements(wb, "COPY", wb, "COPY"), 1);
    EXPECT_EQ(E_CopyElement(wb, "COPY", wb, "COPY2"), 1);
    EXPECT_EQ(StringFromPointer(E_ElementDigest(wb, "COPY2")), StringFromPointer(E_ElementDigest(ra, "7404")));
    EXPECT_EQ(E_DeleteElement(wb, "COPY2"), 1);
    EXPECT_EQ(E_DeleteElement(wb, "7400"), 1);
    EXPECT_EQ(E_DeleteElement(wb, "never there"), 1);
    EXPECT_EQ(E_DeleteElement(ra, "7400"), 0);  // a read handle cannot delete
    EXPECT_EQ(E_FlushLibraries(), 1);
    EXPECT_EQ(*ListLibrary(b), std::vector<std::string>{"COPY"});
    for (const int32_t handle : {ra, wb, rs}) E_CloseLibrary(handle);
}

TEST_F(KernelTest, LibDirNamesComeInBinaryOrderAndEndWithZero) {
    const std::string path = MakeSymbolLibrary("n.SYMBOL", Sym("b", 1) + "," + Sym("B", 1) + "," + Sym("a", 1));
    const int32_t lib = E_OpenLibrary(path.c_str(), ZK_KIND_SYMBOL_LIBRARY, 0);
    EXPECT_STREQ(E_GetLibDirName(lib, 0), "B");
    EXPECT_STREQ(E_GetLibDirName(lib, 1), "a");
    EXPECT_STREQ(E_GetLibDirName(lib, 2), "b");
    EXPECT_EQ(E_GetLibDirName(lib, 3), nullptr);
    EXPECT_EQ(E_GetLibDirName(lib, -1), nullptr);
    E_CloseLibrary(lib);
}

// ---- Slots, records and saves --------------------------------------------------------------

// Saves beyond what one batch keeps for a retry are committed on the way; none is lost and each
// reads back as saved.
TEST_F(KernelTest, ManySavesInOneBatchAllReachTheLibrary) {
    const std::string path = m_dir / "many.PART";
    const int32_t writer = E_OpenLibrary(path.c_str(), ZK_KIND_PART_LIBRARY, -1);
    ASSERT_GT(writer, 0);
    const std::string text(2000, 'x');
    constexpr int kCount = 3000;  // about 6 MB of elements
    for (int i = 0; i < kCount; ++i) {
        const std::string name = "P" + std::to_string(i);
        const int32_t device = D_CreateDevice(0, name.c_str(), (text + std::to_string(i)).c_str(), "");
        ASSERT_NE(D_SaveDevice(device, E_OpenLibToWrite(writer, name.c_str())), 0) << name;
        OM_Delete(DB_DeviceMap(), device);
    }
    EXPECT_EQ(E_FlushLibraries(), 1);
    EXPECT_EQ(E_CloseLibrary(writer), 1);
    for (const int i : {0, 1234, kCount - 1}) {
        const int32_t id = Load(path, ZK_KIND_PART_LIBRARY, "P" + std::to_string(i), ZK_SLOT_PART);
        ASSERT_EQ(id, ZK_SLOT_PART) << i;
        ZK_DeviceRecord device{};
        ASSERT_GT(D_ReadDevice(id, &device), 0);
        EXPECT_EQ(device.text1, text + std::to_string(i));
    }
    const int32_t reader = E_OpenLibrary(path.c_str(), ZK_KIND_PART_LIBRARY, 0);
    int count = 0;
    while (E_GetLibDirName(reader, count) != nullptr) ++count;
    EXPECT_EQ(count, kCount);
    E_CloseLibrary(reader);
}

// A library read element by element keeps only its newest cursor's data; every older cursor still
// loads its own element until its library is closed, and closing one library leaves the cursors
// of another alone.
TEST_F(KernelTest, EveryReadCursorLoadsItsOwnElementUntilItsLibraryCloses) {
    const std::string first = MakePartLibrary("r1.PART", Part("7400", "first") + "," + Part("7402", "second"));
    const std::string other = MakePartLibrary("r2.PART", Part("7404", "other"));
    const int32_t lib = E_OpenLibrary(first.c_str(), ZK_KIND_PART_LIBRARY, 0);
    const int32_t otherLib = E_OpenLibrary(other.c_str(), ZK_KIND_PART_LIBRARY, 0);
    const int32_t older = E_OpenLibToRead(lib, "7400");
    const int32_t newer = E_OpenLibToRead(lib, "7402");
    const int32_t elsewhere = E_OpenLibToRead(otherLib, "7404");
    ASSERT_GT(older, 0);
    ASSERT_GT(newer, 0);
    ZK_DeviceRecord device{};
    ASSERT_EQ(D_LoadDevice(ZK_SLOT_PART, older), ZK_SLOT_PART);
    ASSERT_GT(D_ReadDevice(ZK_SLOT_PART, &device), 0);
    EXPECT_STREQ(device.text1, "first");
    ASSERT_EQ(D_LoadDevice(ZK_SLOT_PART, newer), ZK_SLOT_PART);
    ASSERT_GT(D_ReadDevice(ZK_SLOT_PART, &device), 0);
    EXPECT_STREQ(device.text1, "second");
    EXPECT_EQ(E_CloseLibrary(lib), 1);
    EXPECT_EQ(D_LoadDevice(ZK_SLOT_PART, older), 0);  // its library is closed
    ASSERT_EQ(D_LoadDevice(ZK_SLOT_PART, elsewhere), ZK_SLOT_PART);
    ASSERT_GT(D_ReadDevice(ZK_SLOT_PART, &device), 0);
    EXPECT_STREQ(device.text1, "other");
    EXPECT_EQ(E_CloseLibrary(otherLib), 1);
}

TEST_F(KernelTest, ALoadFillsTheSlotAndReadsBackDevicesGroupsAndPins) {
    const std::string path = MakePartLibrary("d.PART", Part("7400", "QUAD NAND"));
    const int32_t id = Load(path, ZK_KIND_PART_LIBRARY, "7400", ZK_SLOT_PART);
    ASSERT_EQ(id, ZK_SLOT_PART);
    EXPECT_EQ(D_Device(id), id);
    EXPECT_EQ(Name(id), "7400");
    ZK_DeviceRecord device{};
    ASSERT_GT(D_ReadDevice(id, &device), 0);
    EXPECT_STREQ(device.text1, "QUAD NAND");
    EXPECT_STREQ(device.text2, "TTL");
    EXPECT_EQ(device.supplyPinCount, 2);
    EXPECT_EQ(device.groupCount, 2);
    ZK_PinRecord pin{};
    ASSERT_GT(D_ReadPin(D_SupplyPinArray(id), 2, &pin), 0);
    EXPECT_EQ(pin.number, 7);
    EXPECT_STREQ(pin.name, "GND");
    EXPECT_EQ(D_ReadPin(D_SupplyPinArray(id), 3, &pin), 0);
    ZK_GroupRecord group{};
    ASSERT_GT(D_ReadGroup(id, 1, &group), 0);
    EXPECT_STREQ(group.name, "A");
    EXPECT_STREQ(group.text2, "NAND2");
    EXPECT_EQ(group.pinCount, 2);
    ASSERT_GT(D_ReadPin(D_GroupPinArray(id, 1), 2, &pin), 0);
    EXPECT_EQ(pin.number, 2);
    EXPECT_EQ(D_ReadGroup(id, 3, &group), 0);
    EXPECT_EQ(D_GroupPinArray(id, 3), 0);
}

TEST_F(KernelTest, ADeviceBuiltPinByPinSavesAndLoadsEqual) {
    const int32_t d = D_CreateDevice(0, "NEW", "first", "second");
    ASSERT_GT(d, 0);
    EXPECT_GT(D_AddPin(D_SupplyPinArray(d), 8, "VDD"), 0);
    const int32_t g = D_AddGroup(d, "G1", "INV");
    EXPECT_EQ(g, 1);
    EXPECT_GT(D_AddPin(D_GroupPinArray(d, g), 1, "IN"), 0);
    const std::string path = m_dir / "built.PART";
    const int32_t lib = E_OpenLibrary(path.c_str(), ZK_KIND_PART_LIBRARY, -1);
    const int32_t cursor = E_OpenLibToWrite(lib, "SAVED");
    EXPECT_NE(D_SaveDevice(d, cursor), 0);
    EXPECT_EQ(E_CloseLibWrite(lib), 1);
    EXPECT_EQ(D_SaveDevice(d, cursor), 0);  // the write cursor ended with E_CloseLibWrite
    E_CloseLibrary(lib);
    EXPECT_EQ(
        *ExportElement(path, "SAVED"),
        "{\n  \"name\": \"SAVED\",\n  \"device\": {\n    \"text1\": \"first\",\n    \"text2\": \"second\",\n"
        "    \"supply_pins\": [\n      {\n        \"number\": 8,\n        \"name\": \"VDD\"\n      }\n    "
        "],\n"
        "    \"groups\": [\n      {\n        \"name\": \"G1\",\n        \"text2\": \"INV\",\n        "
        "\"pins\": [\n"
        "          {\n            \"number\": 1,\n            \"name\": \"IN\"\n          }\n        ]\n     "
        " }\n"
        "    ]\n  }\n}\n");
}

TEST_F(KernelTest, ReloadingASlotReplacesItsObject) {
    const std::string path = MakeSymbolLibrary("s.SYMBOL", Sym("A", 1) + "," + Sym("B", 2));
    EXPECT_EQ(Load(path, ZK_KIND_SYMBOL_LIBRARY, "A", ZK_SLOT_SYMBOL), ZK_SLOT_SYMBOL);
    EXPECT_EQ(Load(path, ZK_KIND_SYMBOL_LIBRARY, "B", ZK_SLOT_SYMBOL), ZK_SLOT_SYMBOL);
    EXPECT_EQ(Name(ZK_SLOT_SYMBOL), "B");
    ZK_SymbolRecord record{};
    ASSERT_GT(S_ReadSymbol(ZK_SLOT_SYMBOL, &record), 0);
    EXPECT_EQ(record.symbolClass, 2);
    int32_t cursor = OM_GetFirst(DB_SymbMap());
    EXPECT_EQ(OM_SearchMask(DB_SymbMap(), &cursor, 0, 0), ZK_SLOT_SYMBOL);
    EXPECT_EQ(OM_SearchMask(DB_SymbMap(), &cursor, 0, 0), 0);
}

TEST_F(KernelTest, ALoadFailsForMissingElementsWrongKindsAndBadSlots) {
    const std::string parts = MakePartLibrary("p.PART", Part("7400"));
    EXPECT_EQ(Load(parts, ZK_KIND_PART_LIBRARY, "none", ZK_SLOT_PART), 0);
    EXPECT_EQ(Load(parts, ZK_KIND_PART_LIBRARY, "7400", 12345), 0);  // not an existing object
    EXPECT_EQ(S_LoadSymbol(ZK_SLOT_SYMBOL, 999999), 0);
    EXPECT_EQ(D_Device(ZK_SLOT_PART), 0);
}

TEST_F(KernelTest, CopiedSymbolsKeepTheirItemsAndTextsStayReadableAfterARename) {
    const std::string path = MakeSymbolLibrary("m.SPARAM", Sym("D1N4148", 3, "D,diode", "switching diode"));
    const int32_t slot = Load(path, ZK_KIND_SYMBOL_LIBRARY, "D1N4148", ZK_SLOT_MODEL);
    const int32_t copy = S_CopySymbol(slot, 0);
    ASSERT_GT(copy, 0);
    EXPECT_EQ(Name(copy), "D1N4148");
    EXPECT_EQ(O_Rename(slot, ""), 1);
    const int32_t items = S_SymbolItemArray(slot);
    ASSERT_GT(items, 0);
    ZK_ItemRecord item{};
    EXPECT_EQ(I_ReadItem(S_SymbolItem(items, IA_SearchMaskLink(items, 1, 32, 0)), &item), 2);
    const int32_t firstText = IA_SearchMaskLink(items, 6, 6, 0);
    EXPECT_EQ(I_ReadItem(S_SymbolItem(items, firstText), &item), ZK_ITEM_TEXT);
    EXPECT_STREQ(item.text, "D,diode");
    EXPECT_EQ(I_ReadItem(S_SymbolItem(items, IA_SearchMaskLink(items, 1, 32, 2)), &item), ZK_ITEM_TEXT);
    EXPECT_STREQ(item.text, "switching diode");
    EXPECT_EQ(IA_SearchMaskLink(items, 1, 32, 3), 0);
    EXPECT_EQ(S_CopySymbol(4242, 0), 0);
}

// ---- Maps, masks and searches --------------------------------------------------------------

TEST_F(KernelTest, MasksSelectSymbolClasses) {
    const int32_t schematic = S_CreateSymbol("S", ZK_CLASS_SCHEMATIC);
    const int32_t package = S_CreateSymbol("P", ZK_CLASS_PACKAGE);
    const int32_t model = S_CreateSymbol("M", ZK_CLASS_MODEL);
    auto walk = [](int32_t a, int32_t b) {
        std::vector<int32_t> found;
        int32_t cursor = OM_GetFirst(DB_SymbMap());
        while (const int32_t s = OM_SearchMask(DB_SymbMap(), &cursor, a, b)) found.push_back(s);
        return found;
    };
    EXPECT_EQ(walk(1, 3), (std::vector<int32_t>{schematic, model}));
    EXPECT_EQ(walk(2, 2), (std::vector<int32_t>{package}));
    EXPECT_EQ(walk(0, 0), (std::vector<int32_t>{schematic, package, model}));
}

TEST_F(KernelTest, NameSearchesReportSlotObjectsAsGoOn) {
    const std::string path = MakePartLibrary("p.PART", Part("7400"));
    Load(path, ZK_KIND_PART_LIBRARY, "7400", ZK_SLOT_PART);
    const int32_t copy = D_CreateDevice(0, "7400", "", "");
    int32_t cursor = OM_GetFirst(DB_DeviceMap());
    EXPECT_EQ(OM_SearchName(DB_DeviceMap(), &cursor, "7400"), ZK_SLOT_PART);
    EXPECT_EQ(OM_SearchName(DB_DeviceMap(), &cursor, "7400"), copy);
    EXPECT_EQ(OM_SearchName(DB_DeviceMap(), &cursor, "7400"), 0);
    EXPECT_EQ(OM_FindName(DB_DeviceMap(), "nothing"), 0);
}

TEST_F(KernelTest, DeletingReturnsWhetherSomethingWasDeleted) {
    const int32_t d = D_CreateDevice(0, "X", "", "");
    EXPECT_EQ(OM_Delete(DB_SymbMap(), d), 0);  // not in that map
    EXPECT_EQ(OM_Delete(DB_DeviceMap(), d), 1);
    EXPECT_EQ(OM_Delete(DB_DeviceMap(), d), 0);
    EXPECT_EQ(O_Rename(d, "Y"), 0);
    EXPECT_STREQ(O_GetName(d), "");
}

TEST_F(KernelTest, SharedStringStoreGivesBackWhatWasStored) {
    EXPECT_STREQ(E_GetString("IniFile"), "");
    E_SetString("IniFile", "/opt/zarnix/ZARNIX32.INI");
    EXPECT_STREQ(E_GetString("IniFile"), "/opt/zarnix/ZARNIX32.INI");
}

TEST_F(KernelTest, DiscardingTheDatabaseLeavesNoObjectsAndNoCurrentHierarchy) {
    D_CreateDevice(0, "X", "", "");
    DB_DiscardDataBase();
    EXPECT_EQ(DB_CurHier(), 0);
    EXPECT_EQ(OM_GetFirst(DB_DeviceMap()), 0);
    EXPECT_EQ(D_CreateDevice(0, "X", "", ""), 0);  // no database, no objects
}

// ---- Two processes and crashes ----------------------------------------------------------------

TEST_F(KernelTest, AReaderInAnotherProcessSeesWholeElementsWhileOneIsWritten) {
    const std::string path = MakeSymbolLibrary("shared.SYMBOL", Sym("E", 1, "v0", "v0"));
    E_FlushLibraries();
    const pid_t child = fork();
    if (child == 0) {
        for (int i = 1; i <= 300; ++i) {
            const int32_t s = S_CreateSymbol("E", 1);
            const std::string v = "v" + std::to_string(i);
            S_AddItem(s, 2, "");
            S_AddItem(s, 6, v.c_str());
            S_AddItem(s, 6, v.c_str());
            const int32_t lib = E_OpenLibrary(path.c_str(), ZK_KIND_SYMBOL_LIBRARY, -1);
            const int32_t cursor = E_OpenLibToWrite(lib, "E");
            if (S_SaveSymbol(s, cursor) == 0) _exit(3);
            E_CloseLibWrite(lib);
            E_CloseLibrary(lib);
            OM_Delete(DB_SymbMap(), s);
        }
        E_FlushLibraries();
        _exit(0);
    }
    int reads = 0;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        const int32_t id = Load(path, ZK_KIND_SYMBOL_LIBRARY, "E", ZK_SLOT_SYMBOL);
        if (id == 0) continue;
        const int32_t items = S_SymbolItemArray(id);
        ZK_ItemRecord a{}, b{};
        I_ReadItem(S_SymbolItem(items, IA_SearchMaskLink(items, 6, 6, 0)), &a);
        I_ReadItem(S_SymbolItem(items, IA_SearchMaskLink(items, 6, 6, 1)), &b);
        ASSERT_STREQ(a.text, b.text);
        ++reads;
    }
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GT(reads, 0);
}

TEST_F(KernelTest, AKilledWriterLeavesEveryElementOldOrNew) {
    std::string elements;
    for (int i = 0; i < 50; ++i) elements += (i ? "," : "") + Sym("E" + std::to_string(i), 1, "old", "old");
    const std::string path = MakeSymbolLibrary("kill.SYMBOL", elements);
    E_FlushLibraries();
    for (int round = 0; round < 5; ++round) {
        const pid_t child = fork();
        if (child == 0) {
            for (int pass = 0;; ++pass) {
                for (int i = 0; i < 50; ++i) {
                    const int32_t s = S_CreateSymbol("x", 1);
                    const std::string v = "new" + std::to_string(pass);
                    S_AddItem(s, 2, "");
                    S_AddItem(s, 6, v.c_str());
                    S_AddItem(s, 6, v.c_str());
                    const int32_t lib = E_OpenLibrary(path.c_str(), ZK_KIND_SYMBOL_LIBRARY, -1);
                    const std::string name = "E" + std::to_string(i);
                    S_SaveSymbol(s, E_OpenLibToWrite(lib, name.c_str()));
                    E_CloseLibWrite(lib);
                    E_CloseLibrary(lib);
                    OM_Delete(DB_SymbMap(), s);
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + 17 * round));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr);
        ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "ok");
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        for (int i = 0; i < 50; ++i) {
            const int32_t id = Load(path, ZK_KIND_SYMBOL_LIBRARY, "E" + std::to_string(i), ZK_SLOT_SYMBOL);
            ASSERT_NE(id, 0) << "element " << i << " unreadable after kill " << round;
            const int32_t items = S_SymbolItemArray(id);
            ZK_ItemRecord a{}, b{};
            I_ReadItem(S_SymbolItem(items, IA_SearchMaskLink(items, 6, 6, 0)), &a);
            I_ReadItem(S_SymbolItem(items, IA_SearchMaskLink(items, 6, 6, 1)), &b);
            EXPECT_STREQ(a.text, b.text);
        }
        E_FlushLibraries();
    }
}

}  // namespace
}  // namespace zrx
