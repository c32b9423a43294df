#pragma once

#include <cstdint>
#include <string>

namespace zrx {

class Directory;

// Library work of the transfers through the kernel, each library named by an open folder and its
// file name there (the kernel reaches it through the folder's handle). Each reports through an out
// flag that is 1 on entry and 0 on success.

// Opens the library for reading and loads the element into the slot, renamed to `name`; the slot
// variable becomes the loaded object's number.
void LoadPartFromLib(int32_t& failed, int32_t& slot, const Directory& folder, const std::string& library,
                     const std::string& name);
void LoadSymbolFromLib(int32_t& failed, int32_t& slot, const Directory& folder, const std::string& library,
                       const std::string& name);
// Whether the library holds the element (0) or not, or cannot be opened (1).
void PartExistsInLib(int32_t& failed, const Directory& folder, const std::string& library,
                     const std::string& name);
void SymbolExistsInLib(int32_t& failed, const Directory& folder, const std::string& library,
                       const std::string& name);
// Saves the slot's object under `name` into the library, creating a missing library.
void SavePartToLib(int32_t& failed, const Directory& folder, const std::string& library, int32_t slot,
                   const std::string& name);
void SaveSymbolToLib(int32_t& failed, const Directory& folder, const std::string& library, int32_t slot,
                     const std::string& name);

}  // namespace zrx
