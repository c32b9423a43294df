#pragma once

#include <memory>

#include "history/record_folder.h"
#include "trust/upgrade_check.h"

namespace zrx {

// What is known of the loaded upgrade's origin: whether it is signed, intact or unverified, and the
// private folder (an unpacked archive, the checked copy of its files) it is read from while it is
// loaded.
struct UpgradeVerification {
    // Shared: files the builder reloaded from it are read from it for as long as the builder holds them.
    std::shared_ptr<history::ScratchFolder> scratch;
    trust::UpgradeCheck check;
    // An upgrade not signed by a key the installation trusts is loaded without asking (the
    // command line's --allow-unsigned).
    bool allowUnsigned = false;
    // The installation trusts keys, none of which signed the loaded upgrade, and it was loaded
    // all the same (allowUnsigned, or the user's Yes).
    bool loadedUnsigned = false;
};

}  // namespace zrx
