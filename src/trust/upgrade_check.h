#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/directory.h"
#include "base/outcome.h"
#include "trust/trust_store.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx::trust {

// What is known of an upgrade folder before anything of it is offered:
// - signed: its manifest is signed by a trusted key, and every file its list uses has the digest
//   the manifest gives;
// - intact: every file its list uses has the digest its manifest gives, but the manifest is not
//   signed, or by a key the installation does not trust;
// - unverified: it has no manifest;
// - tampered: a file its list uses differs from its digest, is missing, or is not in the manifest,
//   or the manifest or its signature cannot be read (a FIFO, a device or a link in their place
//   among them), or a signature by a trusted key does not verify.
enum class UpgradeState { Signed, Intact, Unverified, Tampered };
std::string_view StateWord(UpgradeState state);

struct UpgradeCheck {
    bool checked = false;  // whether an upgrade was checked at all (an archive may be refused first)
    bool manifestRead = false;  // a manifest was read: the files were checked (and copied, where asked)
    UpgradeState state = UpgradeState::Unverified;
    std::string keyId;                  // the key of the signature, when there is one that can be read
    std::string trustedComment;         // a signed upgrade's trusted comment
    std::vector<std::string> problems;  // tampered: each file (or the manifest) and what is wrong
    // The private copy of a file could not be written (a full disk, say): a fault here, not in the
    // upgrade, and still nothing of it may be used.
    std::string copyFailure;
    // The data files checked where they lie (a check whose copy holds the list and libraries
    // alone): each one's digest, by its name as spelt in the upgrade folder.
    CheckedFiles inPlace;
    // One line for the window and the command line: the state and what it rests on.
    std::string Describe() const;
};

// Checks the upgrade folder `folder` against its manifest and signature with the trusted keys.
// With `copyInto` (an empty private folder), every file the check reads is copied there (under its
// own name, with its permissions and modification time) from the very bytes that were digested,
// so that what the program goes on to use is what was checked; nothing is copied for a folder
// without a manifest.
UpgradeCheck CheckUpgrade(const std::string& folder, const std::vector<TrustedKey>& trusted,
                          const std::string& copyInto = {});
// The same through an open folder (`folderPath` names it). `makeCopy`, when given, is asked for
// the private folder to copy into once a manifest has been read (and only then), so that the one
// open that finds the manifest decides whether the program goes on from a checked copy; a failure
// when it cannot be made: copyFailure then says so. With `scope` ListAndLibraries the copy holds
// the list and the upgrade libraries, and the data files are digested where they lie (their
// digests in inPlace): whoever reads one later checks its bytes against that digest.
using CopyFolder = std::function<Result<const Directory*>()>;
enum class CopyScope { Everything, ListAndLibraries };
UpgradeCheck CheckUpgrade(const Directory& folder, const std::string& folderPath,
                          const std::vector<TrustedKey>& trusted, const CopyFolder& makeCopy = {},
                          CopyScope scope = CopyScope::Everything);

// Whether the installation's trust asks for more than `check` gives: it trusts keys, and none of
// them signed the upgrade (a tampered upgrade is refused for that alone).
bool WantsTrustedSignature(const std::vector<TrustedKey>& trusted, const UpgradeCheck& check);

// The files an upgrade's list uses, by their names in `folder`: the list itself, the upgrade
// libraries its elements come from, and every data file it names (of those that are there as
// regular files).
std::vector<std::string> FilesTheListUses(const Directory& folder, const std::string& folderPath);
// Writes the folder's manifest of the files its list uses, whole: the manifest's text as it was
// written.
Result<std::string> WriteManifest(const Directory& folder, const std::string& folderPath);
// Signs `manifest` (the text WriteManifest wrote: what is signed is never read back from a folder
// others might change) with `key`, the signature beside it, whole.
Outcome SignManifest(const Directory& folder, const std::string& folderPath, const std::string& manifest,
                     const SecretKey& key, const std::string& trustedComment);

}  // namespace zrx::trust
