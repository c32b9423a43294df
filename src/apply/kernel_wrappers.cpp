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

void Load(const ElementKind& kind, int32_t& failed, int32_t& slot, const Directory& folder,
          const std::string& file, const std::string& name) {
    failed = 1;
    const int32_t library = OpenLibraryIn(folder, file, kind.libraryKind, 0);
    if (library < 1) return;
    const int32_t cursor = E_OpenLibToRead(library, name.c_str());
    if (cursor > 0) {
        if (kind.object(slot) != 0) OM_Delete(kind.map(), slot);
        slot = kind.load(slot, cursor);
        if (slot != 0) {
            failed = 0;
            O_Rename(kind.object(slot), name.c_str());
        }
    }
    E_CloseLibrary(library);
}

void Exists(const ElementKind& kind, int32_t& failed, const Directory& folder, const std::string& file,
            const std::string& name) {
    failed = 1;
    const int32_t library = OpenLibraryIn(folder, file, kind.libraryKind, 0);
    if (library < 1) return;
    const int32_t cursor = E_OpenLibToRead(library, name.c_str());
    E_CloseLibrary(library);
    if (cursor > 0) failed = 0;
}

void Save(const ElementKind& kind, int32_t& failed, const Directory& folder, const std::string& file,
          int32_t slot, const std::string& name) {
    failed = 1;
    const int32_t library = OpenLibraryIn(folder, file, kind.libraryKind, -1);
    if (library < 1) return;
    const int32_t cursor = E_OpenLibToWrite(library, name.c_str());
    if (cursor > 0) {
        const int32_t saved = kind.save(slot, cursor);
        E_CloseLibWrite(library);
        if (saved != 0) failed = 0;
    }
    E_CloseLibrary(library);
}

}  // namespace

void LoadPartFromLib(int32_t& failed, int32_t& slot, const Directory& folder, const std::string& library,
                     const std::string& name) {
    Load(kParts, failed, slot, folder, library, name);
}
void LoadSymbolFromLib(int32_t& failed, int32_t& slot, const Directory& folder, const std::string& library,
                       const std::string& name) {
    Load(kSymbols, failed, slot, folder, library, name);
}
void PartExistsInLib(int32_t& failed, const Directory& folder, const std::string& library,
                     const std::string& name) {
    Exists(kParts, failed, folder, library, name);
}
void SymbolExistsInLib(int32_t& failed, const Directory& folder, const std::string& library,
                       const std::string& name) {
    Exists(kSymbols, failed, folder, library, name);
}
void SavePartToLib(int32_t& failed, const Directory& folder, const std::string& library, int32_t slot,
                   const std::string& name) {
    Save(kParts, failed, folder, library, slot, name);
}
void SaveSymbolToLib(int32_t& failed, const Directory& folder, const std::string& library, int32_t slot,
                     const std::string& name) {
    Save(kSymbols, failed, folder, library, slot, name);
}

}  // namespace zrx
