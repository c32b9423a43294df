#include "kernel/working_database.h"

#include <vector>

#include "base/dialogs.h"
#include "base/messages.h"
#include "base/text_utils.h"
#include "kernel/zrxkernel.h"

namespace zrx {

namespace {

// Repeats a kernel search from the first object of the map: above 0 is found, 0 is the end,
// below 0 means go on.
template <typename Search>
int32_t SearchFromFirst(int32_t map, Search search) {
    int32_t cursor = OM_GetFirst(map);
    for (;;) {
        const int32_t found = search(&cursor);
        if (found >= 0) return found;
    }
}

// Walks every hierarchy, makes it current and asks `probe` for a user there; the current
// hierarchy is restored afterwards.
template <typename Probe>
UseInfo WalkHierarchies(Probe probe) {
    UseInfo info;
    const int32_t remembered = DB_CurHier();
    const int32_t map = DB_HierarchyMap();
    int32_t cursor = OM_GetFirst(map);
    while (const int32_t hierarchy = OM_SearchMask(map, &cursor, 0, 0)) {
        if (hierarchy <= 0 || DB_SetCurHier(hierarchy) == 0) continue;
        const std::string name = StringFromPointer(O_GetName(hierarchy));
        if (probe(hierarchy, name, info)) {
            info.hierarchy = hierarchy;
            info.hierarchyName = name;
            break;
        }
    }
    DB_SetCurHier(remembered);
    return info;
}

}  // namespace

bool CreateWorkingDatabase(WorkingDatabase& database, ui::Dialogs& dialogs) {
    database.hierarchyName = "MAINHIER";
    database.pageName = "MAINPAGE";
    DB_DiscardDataBase();
    // The kernel may rewrite the name buffers; what it leaves there is kept.
    std::vector<char> hierarchy(database.hierarchyName.begin(), database.hierarchyName.end());
    std::vector<char> page(database.pageName.begin(), database.pageName.end());
    hierarchy.resize(256, '\0');
    page.resize(256, '\0');
    bool ok = DB_CreateDataBase("Untitled", hierarchy.data(), page.data()) != 0;
    database.hierarchyName = hierarchy.data();
    database.pageName = page.data();
    if (ok) {
        const auto hierarchy = FindObjectByName(DB_HierarchyMap(), database.hierarchyName);
        database.rootHierarchy = hierarchy.value_or(0);
        ok = hierarchy && DB_SetCurHier(database.rootHierarchy) != 0;
    }
    if (ok) {
        const auto page = FindObjectByName(DB_PageMap(), database.pageName);
        database.rootPage = page.value_or(0);
        ok = page && DB_SetCurPage(database.rootPage) != 0;
    }
    if (!ok) {
        dialogs.ShowMessage(
            {"Can't Create Data Base", std::string(kAppTitle), ui::Icon::Critical, ui::Buttons::Ok, true});
        return false;
    }
    ImportBitmaps(database);
    return true;
}

void ImportBitmaps(WorkingDatabase& database) {
    const int32_t existing = OM_FindName(DB_FileMap(), "@Bitmap@");
    database.bitmapFile = existing != 0 ? existing : F_CreateFile(0, "@Bitmap@");
}

void ClearWorkingDatabase() {
    for (const int32_t slot : {ZK_SLOT_SYMBOL, ZK_SLOT_PACKAGE})
        if (S_ReadSymbol(slot, nullptr) > 0) OM_Delete(DB_SymbMap(), slot);
    if (D_ReadDevice(ZK_SLOT_PART, nullptr) > 0) OM_Delete(DB_DeviceMap(), ZK_SLOT_PART);
    if (S_ReadSymbol(ZK_SLOT_MODEL, nullptr) > 0) OM_Delete(DB_SymbMap(), ZK_SLOT_MODEL);
}

std::optional<int32_t> FindObjectByName(int32_t map, const std::string& name) {
    const int32_t object = OM_FindName(map, name.c_str());
    return object != 0 ? std::optional<int32_t>(object) : std::nullopt;
}

std::optional<int32_t> FindDeviceByName(const std::string& name) {
    const int32_t map = DB_DeviceMap();
    const int32_t device =
        SearchFromFirst(map, [&](int32_t* cursor) { return OM_SearchName(map, cursor, name.c_str()); });
    return device > 0 ? std::optional<int32_t>(device) : std::nullopt;
}

std::optional<int32_t> FindSymbolByName(int32_t kind, const std::string& name) {
    const int32_t map = DB_SymbMap();
    const int32_t maskA = kind == 1 ? ZK_CLASS_PACKAGE : ZK_CLASS_SCHEMATIC;
    const int32_t maskB = kind == 1 ? ZK_CLASS_PACKAGE : ZK_CLASS_MODEL;
    const int32_t symbol = SearchFromFirst(
        map, [&](int32_t* cursor) { return OM_SearchNameMask(map, cursor, name.c_str(), maskA, maskB); });
    return symbol > 0 ? std::optional<int32_t>(symbol) : std::nullopt;
}

UseInfo DeviceInUse(int32_t device) {
    return WalkHierarchies([&](int32_t, const std::string&, UseInfo& info) {
        info.user = L_SearchDevice(device);
        if (info.user == 0) info.user = C_SearchDevice(device);
        return info.user != 0;
    });
}

UseInfo SymbolInUse(int32_t kind, int32_t symbol) {
    const std::string symbolName = StringFromPointer(O_GetName(symbol));
    int32_t namedHierarchy = 0;
    std::string namedHierarchyName;
    UseInfo info = WalkHierarchies([&](int32_t hierarchy, const std::string& name, UseInfo& found) {
        if (kind == 1 && namedHierarchy == 0 && name == symbolName) {
            namedHierarchy = hierarchy;
            namedHierarchyName = name;
        }
        const int32_t component = kind == 1 ? C_SearchSymbol(symbol) : L_SearchSymbol(symbol);
        if (component == 0) return false;
        found.user = component;
        found.componentName =
            StringFromPointer(O_GetName(kind == 1 ? C_Component(component) : L_Component(component)));
        return true;
    });
    if (info.user == 0 && namedHierarchy != 0) {
        info.user = -1;
        info.hierarchy = namedHierarchy;
        info.hierarchyName = namedHierarchyName;
    }
    return info;
}

void DropOrphanDevices() {
    const int32_t map = DB_DeviceMap();
    int32_t cursor = OM_GetFirst(map);
    while (const int32_t device = OM_SearchMask(map, &cursor, 0, 0)) {
        if (device <= 0 || DeviceInUse(device).user != 0) continue;
        // A device the kernel will not delete is passed over, so the walk always ends.
        if (OM_Delete(map, device) != 0) cursor = OM_GetFirst(map);
    }
}

void DropOrphanSymbols(int32_t maskA, int32_t maskB, int32_t inUseKind) {
    const int32_t map = DB_SymbMap();
    int32_t cursor = OM_GetFirst(map);
    while (const int32_t symbol = OM_SearchMask(map, &cursor, maskA, maskB)) {
        if (symbol <= -100 || SymbolInUse(inUseKind, symbol).user != 0) continue;
        if (OM_Delete(map, symbol) == 0) return;
        cursor = OM_GetFirst(map);
    }
}

}  // namespace zrx
