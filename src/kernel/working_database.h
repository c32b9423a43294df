#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zrx {
namespace ui {
class Dialogs;
}

// The working database the transfers go through, as the program created it.
struct WorkingDatabase {
    std::string hierarchyName = "MAINHIER";
    std::string pageName = "MAINPAGE";
    int32_t rootHierarchy = 0;
    int32_t rootPage = 0;
    int32_t bitmapFile = 0;
};

// Replaces whatever the kernel holds by a fresh database with its root hierarchy and page current
// and the "@Bitmap@" file object. On failure it shows the critical box "Can't Create Data Base"
// and returns false: the program must end.
bool CreateWorkingDatabase(WorkingDatabase& database, ui::Dialogs& dialogs);
void ImportBitmaps(WorkingDatabase& database);
// Deletes what the scratch slots -10, -20, -30 and -98 hold, in this order.
void ClearWorkingDatabase();

// The object of that name in a map; nothing when there is none.
std::optional<int32_t> FindObjectByName(int32_t map, const std::string& name);
// The device of that name (not one in a scratch slot).
std::optional<int32_t> FindDeviceByName(const std::string& name);
// kind 0: schematic symbols and models (masks 1 and 3); kind 1: packages (masks 2 and 2).
std::optional<int32_t> FindSymbolByName(int32_t kind, const std::string& name);

struct UseInfo {
    int32_t user = 0;  // the component that uses the object; -1: a hierarchy bears the name; 0: none
    int32_t hierarchy = 0;
    std::string hierarchyName;
    std::string componentName;
};
UseInfo DeviceInUse(int32_t device);
// kind 1 searches schematic components, kind 0 layout components.
UseInfo SymbolInUse(int32_t kind, int32_t symbol);

// Deletes every device (or every symbol of the mask pair) that no component uses.
void DropOrphanDevices();
void DropOrphanSymbols(int32_t maskA, int32_t maskB, int32_t inUseKind);

}  // namespace zrx
