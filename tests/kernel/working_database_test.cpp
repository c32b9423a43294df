#include "kernel/working_database.h"

#include <gtest/gtest.h>

#include "support/kernel_fixture.h"
#include "ui/scripted_dialogs.h"

namespace zrx {
namespace {

class WorkingDatabaseTest : public test::KernelTest {
protected:
    void SetUp() override { ASSERT_TRUE(CreateWorkingDatabase(m_db, m_dialogs)); }
    static int32_t Count(int32_t map) {
        int32_t cursor = OM_GetFirst(map), n = 0;
        while (OM_SearchMask(map, &cursor, 0, 0) != 0) ++n;
        return n;
    }
    WorkingDatabase m_db;
    ui::ScriptedDialogs m_dialogs;
};

TEST_F(WorkingDatabaseTest, CreationDropsTheOldDatabaseAndMakesOneHierarchyAndPage) {
    D_CreateDevice(0, "left over", "", "");
    ASSERT_TRUE(CreateWorkingDatabase(m_db, m_dialogs));
    EXPECT_EQ(Count(DB_DeviceMap()), 0);
    EXPECT_EQ(Count(DB_HierarchyMap()), 1);
    EXPECT_EQ(Count(DB_PageMap()), 1);
    EXPECT_EQ(DB_CurHier(), m_db.rootHierarchy);
    EXPECT_EQ(Name(m_db.rootHierarchy), "MAINHIER");
    EXPECT_EQ(Name(m_db.rootPage), "MAINPAGE");
    EXPECT_EQ(Name(m_db.bitmapFile), "@Bitmap@");
    EXPECT_TRUE(m_dialogs.Boxes().empty());
}

TEST_F(WorkingDatabaseTest, AnExistingBitmapFileGetsNoSecondOne) {
    const int32_t first = m_db.bitmapFile;
    ImportBitmaps(m_db);
    EXPECT_EQ(m_db.bitmapFile, first);
    EXPECT_EQ(Count(DB_FileMap()), 1);
}

TEST_F(WorkingDatabaseTest, ClearingRemovesTheSlotsAndNothingElse) {
    const int32_t before = Count(DB_SymbMap()) + Count(DB_DeviceMap());
    ClearWorkingDatabase();  // nothing to clear: nothing changes
    EXPECT_EQ(Count(DB_SymbMap()) + Count(DB_DeviceMap()), before);

    const std::string parts = MakePartLibrary("p.PART", Part("7400"));
    const std::string symbols = MakeSymbolLibrary("s.SYMBOL", Sym("R", 1));
    const int32_t keepDevice = D_CreateDevice(0, "keep", "", "");
    const int32_t keepSymbol = S_CreateSymbol("keep", 1);
    int32_t lib = E_OpenLibrary(parts.c_str(), ZK_KIND_PART_LIBRARY, 0);
    ASSERT_EQ(D_LoadDevice(ZK_SLOT_PART, E_OpenLibToRead(lib, "7400")), ZK_SLOT_PART);
    E_CloseLibrary(lib);
    lib = E_OpenLibrary(symbols.c_str(), ZK_KIND_SYMBOL_LIBRARY, 0);
    ASSERT_EQ(S_LoadSymbol(ZK_SLOT_SYMBOL, E_OpenLibToRead(lib, "R")), ZK_SLOT_SYMBOL);
    ASSERT_EQ(S_LoadSymbol(ZK_SLOT_MODEL, E_OpenLibToRead(lib, "R")), ZK_SLOT_MODEL);
    E_CloseLibrary(lib);

    ClearWorkingDatabase();
    EXPECT_EQ(D_Device(ZK_SLOT_PART), 0);
    EXPECT_EQ(S_Symbol(ZK_SLOT_SYMBOL), 0);
    EXPECT_EQ(S_Symbol(ZK_SLOT_MODEL), 0);
    EXPECT_EQ(D_Device(keepDevice), keepDevice);
    EXPECT_EQ(S_Symbol(keepSymbol), keepSymbol);
}

TEST_F(WorkingDatabaseTest, FindByNameSkipsSlotObjectsAndHonoursTheKind) {
    const std::string symbols = MakeSymbolLibrary("s.SYMBOL", Sym("Q1", 3));
    const int32_t lib = E_OpenLibrary(symbols.c_str(), ZK_KIND_SYMBOL_LIBRARY, 0);
    S_LoadSymbol(ZK_SLOT_MODEL, E_OpenLibToRead(lib, "Q1"));
    E_CloseLibrary(lib);
    const int32_t copy = S_CopySymbol(ZK_SLOT_MODEL, 0);
    EXPECT_EQ(FindSymbolByName(0, "Q1"), copy);
    EXPECT_FALSE(FindSymbolByName(1, "Q1"));  // packages only: a model is not one
    const int32_t package = S_CreateSymbol("Q1", ZK_CLASS_PACKAGE);
    EXPECT_EQ(FindSymbolByName(1, "Q1"), package);
    EXPECT_FALSE(FindDeviceByName("none"));
    EXPECT_EQ(FindObjectByName(DB_HierarchyMap(), "MAINHIER"), m_db.rootHierarchy);
    EXPECT_FALSE(FindObjectByName(DB_HierarchyMap(), "OTHER"));
}

TEST_F(WorkingDatabaseTest, InUseTestsFindComponentsInEveryHierarchy) {
    const int32_t device = D_CreateDevice(0, "7400", "", "");
    const int32_t symbol = S_CreateSymbol("NAND", 1);
    const int32_t package = S_CreateSymbol("DIP14", 2);
    EXPECT_EQ(DeviceInUse(device).user, 0);
    const int32_t second = DB_CreateHierarchy("SUB");
    ASSERT_EQ(DB_SetCurHier(second), 1);
    const int32_t u1 = C_CreateComponent("U1", device, symbol);
    const int32_t u2 = L_CreateComponent("U2", device, package);
    ASSERT_EQ(DB_SetCurHier(m_db.rootHierarchy), 1);

    const UseInfo byDevice = DeviceInUse(device);
    EXPECT_EQ(byDevice.user, u2);  // layout components are searched first
    EXPECT_EQ(byDevice.hierarchyName, "SUB");
    EXPECT_EQ(DB_CurHier(), m_db.rootHierarchy);

    const UseInfo bySymbol = SymbolInUse(1, symbol);
    EXPECT_EQ(bySymbol.user, u1);
    EXPECT_EQ(bySymbol.componentName, "U1");
    EXPECT_EQ(SymbolInUse(0, symbol).user, 0);  // no layout component uses the schematic symbol
    EXPECT_EQ(SymbolInUse(0, package).user, u2);
}

TEST_F(WorkingDatabaseTest, AHierarchyBearingTheSymbolsNameCountsAsAUser) {
    const int32_t symbol = S_CreateSymbol("BLOCK", 1);
    const int32_t hierarchy = DB_CreateHierarchy("BLOCK");
    const UseInfo info = SymbolInUse(1, symbol);
    EXPECT_EQ(info.user, -1);
    EXPECT_EQ(info.hierarchy, hierarchy);
    EXPECT_EQ(info.hierarchyName, "BLOCK");
    EXPECT_EQ(SymbolInUse(0, symbol).user, 0);
}

TEST_F(WorkingDatabaseTest, PurgesDropOnlyWhatNothingUses) {
    const int32_t used = D_CreateDevice(0, "used", "", "");
    D_CreateDevice(0, "orphan1", "", "");
    D_CreateDevice(0, "orphan2", "", "");
    const int32_t usedSymbol = S_CreateSymbol("usedS", 1);
    S_CreateSymbol("orphanS", 1);
    S_CreateSymbol("orphanM", 3);
    const int32_t package = S_CreateSymbol("pkg", 2);
    C_CreateComponent("U1", used, usedSymbol);

    DropOrphanDevices();
    EXPECT_EQ(Count(DB_DeviceMap()), 1);
    EXPECT_EQ(D_Device(used), used);

    DropOrphanSymbols(1, 3, 1);
    EXPECT_EQ(Count(DB_SymbMap()), 2);
    EXPECT_EQ(S_Symbol(usedSymbol), usedSymbol);
    EXPECT_EQ(S_Symbol(package), package);  // outside the mask pair
}

}  // namespace
}  // namespace zrx
