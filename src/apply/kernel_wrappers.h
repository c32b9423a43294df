#pragma once

#include <cstdint>
#include <string>

namespace zrx {

class Directory;

// Library work of the transfers through the kernel, each library named by an open folder and its
// file name there (the kernel reaches it through the folder's handle). Each says whether it did
// what it was asked; why not, the kernel's last error says.

// Opens the library for reading and loads the element into the slot, renamed to `name`; the slot
// variable becomes the loaded object's number.
bool LoadPartFromLib(int32_t& slot, const Directory& folder, const std::string& library, const std::string& name);
bool LoadSymbolFromLib(int32_t& slot, const Directory& folder, const std::string& library,
                       const std::string& name);
// Whether the library can be opened and holds the element.
bool PartExistsInLib(const Directory& folder, const std::string& library, const std::string& name);
bool SymbolExistsInLib(const Directory& folder, const std::string& library, const std::string& name);
// Saves the slot's object under `name` into the library, creating a missing library.
bool SavePartToLib(const Directory& folder, const std::string& library, int32_t slot, const std::string& name);
bool SaveSymbolToLib(const Directory& folder, const std::string& library, int32_t slot, const std::string& name);

}  // namespace zrx
