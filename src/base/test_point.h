#pragma once

#include <functional>
#include <string_view>

namespace zrx {

// A named moment between a check and the use that follows it, where a test can act (swap a folder
// for a link, say) to show that the use does not rest on the path staying as it was. Nothing
// happens unless a test has set the callback.
void TestPoint(std::string_view moment);
void SetTestPoint(std::function<void(std::string_view moment)> callback);

}  // namespace zrx
