#pragma once

#include <cstdint>
#include <string>

namespace zrx {

// Library work of the transfers through the kernel. Each reports through an out flag that is 1
// on entry and 0 on success.

// Opens the library for reading and loads the element into the slot, renamed to `name`; the slot
// variable becomes the loaded object's number.
void LoadPartFromLib(int32_t& failed, int32_t& slot, const std::string& libraryPath, const std::string& name);
void LoadSymbolFromLib(int32_t& failed, int32_t& slot, const std::string& libraryPath, const std::string& name);
// Whether the library holds the element (0) or not, or cannot be opened (1).
void PartExistsInLib(int32_t& failed, const std::string& libraryPath, const std::string& name);
void SymbolExistsInLib(int32_t& failed, const std::string& libraryPath, const std::string& name);
// Saves the slot's object under `name` into the library, creating a missing library.
void SavePartToLib(int32_t& failed, const std::string& libraryPath, int32_t slot, const std::string& name);
void SaveSymbolToLib(int32_t& failed, const std::string& libraryPath, int32_t slot, const std::string& name);

}  // namespace zrx
