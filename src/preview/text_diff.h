#pragma once

#include <string>
#include <string_view>

namespace zrx::preview {

// The unified diff (three lines of context) that turns `installed` into `upgrade`, its two file
// lines naming them by `installedName` and `upgradeName`; "" when they are the same. Text that is
// not text (it holds a NUL) gives one line saying that the two differ.
std::string UnifiedDiff(std::string_view installed, std::string_view upgrade,
                        const std::string& installedName, const std::string& upgradeName);

}  // namespace zrx::preview
