#pragma once

namespace zrx {

class App;

// OK on the load page in builder mode: after a confirmation, empties the builder's tables and
// lists and fills them again from ListPath's Upgrade.lst.
void ReloadUpgradeListIntoBuilder(App& app);

}  // namespace zrx
