#pragma once

namespace zrx {

class App;

// OK on the load page in builder mode: after a confirmation, empties the builder's tables and
// lists and fills them again from ListPath's Upgrade.lst. Files with a target and description
// (the fifth field of any file but a subcircuit) come back as files of any kind, taken from that
// folder; a record that cannot come back as it stands is named in a box, never dropped silently.
void ReloadUpgradeListIntoBuilder(App& app);

}  // namespace zrx
