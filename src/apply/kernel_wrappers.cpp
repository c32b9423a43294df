#include "apply/kernel_wrappers.h"

#include "base/directory.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"

namespace zrx {

namespace {

struct ElementKind {
    const char* libraryKind;
    int32_t (*map)();
    int32_t (*object)(int32_t);
    int32_t (*load)(int32_t, int32_t);
    int32_t (*save)(int32_t, int32_t);
};

constexpr ElementKind kParts{ZK_KIND_PART_LIBRARY, DB_DeviceMap, D_Device, D_LoadDevice, D_SaveDevice};
constexpr ElementKind kSymbols{ZK_KIND_SYMBOL_LIBRARY, DB_SymbMap, S_Symbol, S_LoadSymbol, S_SaveSymbol};

bool LoadFrom(const ElementKind& kind, int32_t library, int32_t& slot, const std::string& name) {
    const int32_t cursor = E_OpenLibToRead(library, name.c_str());
    if (cursor <= 0) return false;
    if (kind.object(slot) != 0) OM_Delete(kind.map(), slot);
    slot = kind.load(slot, cursor);
    if (slot == 0) return false;
    O_Rename(kind.object(slot), name.c_str());
    return true;
}

bool SaveTo(const ElementKind& kind, int32_t library, int32_t slot, const std::string& name) {
    const int32_t cursor = E_OpenLibToWrite(library, name.c_str());
    if (cursor <= 0) return false;
    const bool saved = kind.save(slot, cursor) != 0;
    E_CloseLibWrite(library);
    return saved;
}

bool Save(const ElementKind& kind, const Directory& folder, const std::string& file, int32_t slot,
          const std::string& name) {
    const int32_t library = OpenLibraryIn(folder, file, kind.libraryKind, -1);
    if (library < 1) return false;
    const bool saved = SaveTo(kind, library, slot, name);
    E_CloseLibrary(library);
    return saved;
}

bool Exists(const ElementKind& kind, const Directory& folder, const std::string& file, const std::string& name) {
    const int32_t library = OpenLibraryIn(folder, file, kind.libraryKind, 0);
    if (library < 1) return false;
    const int32_t cursor = E_OpenLibToRead(library, name.c_str());
    E_CloseLibrary(library);
    return cursor > 0;
}

}  // namespace

bool PartExistsInLib(const Directory& folder, const std::string& library, const std::string& name) {
    return Exists(kParts, folder, library, name);
}
bool SymbolExistsInLib(const Directory& folder, const std::string& library, const std::string& name) {
    return Exists(kSymbols, folder, library, name);
}
bool LoadElementFrom(bool part, int32_t library, int32_t& slot, const std::string& name) {
    return LoadFrom(part ? kParts : kSymbols, library, slot, name);
}
bool SavePartToLib(const Directory& folder, const std::string& library, int32_t slot,
                   const std::string& name) {
    return Save(kParts, folder, library, slot, name);
}
bool SaveSymbolToLib(const Directory& folder, const std::string& library, int32_t slot,
                     const std::string& name) {
    return Save(kSymbols, folder, library, slot, name);
}

}  // namespace zrx
