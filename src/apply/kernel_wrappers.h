#pragma once

#include <cstdint>
#include <string>

namespace zrx {

class Directory;

// Library work of the transfers through the kernel. Each says whether it did what it was asked;
// why not, the kernel's last error says.

// Whether the library (named by an open folder and its file name there, which the kernel reaches
// through the folder's handle) can be opened and holds the element.
bool PartExistsInLib(const Directory& folder, const std::string& library, const std::string& name);
bool SymbolExistsInLib(const Directory& folder, const std::string& library, const std::string& name);

// Opens the library for writing (making a missing one) and saves the slot's object under `name`;
// the library is opened anew for each save, so that one removed or made a link since is refused.
bool SavePartToLib(const Directory& folder, const std::string& library, int32_t slot,
                   const std::string& name);
bool SaveSymbolToLib(const Directory& folder, const std::string& library, int32_t slot,
                     const std::string& name);

// With a library the caller holds open (a run's elements of one library after another), `part`
// telling a part library from one of the symbol kind: the element is loaded into the slot,
// renamed to `name`, and the slot variable becomes the loaded object's number.
bool LoadElementFrom(bool part, int32_t library, int32_t& slot, const std::string& name);

}  // namespace zrx
