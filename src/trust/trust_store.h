#pragma once

#include <string>
#include <vector>

#include "base/outcome.h"
#include "trust/minisign.h"

namespace zrx {

struct Environment;

namespace trust {

// A public key the installation trusts, and the file it came from.
struct TrustedKey {
    PublicKey key;
    std::string file;
};

// The keys every installation on this machine trusts: /etc/zrxlibug/trusted.d (ZRXLIBUG_TRUSTED_D
// names another folder, for packagers and tests). Each "*.pub" file in it is one minisign public key.
std::string SystemTrustFolder();
// The keys one installation trusts: ".zrxlibug/trusted" beside its INI.
std::string InstallationTrustFolder(const Environment& env);

// The keys trusted for an installation (`env`; only the system's without one). A trust folder that
// others could write, or a key file in it that is not one, cannot be trusted itself: a failure
// says why and what to do.
Result<std::vector<TrustedKey>> TrustedKeys(const Environment* env);

// Adds a public key file to the installation's trusted keys (kept as "<key id>.pub"): the key as
// the installation now trusts it.
Result<TrustedKey> TrustKey(const Environment& env, const std::string& publicKeyFile);
// Takes the key of this id (16 hex digits, any case) out of the installation's trusted keys (a key
// trusted by the system's folder is named in the failure, and stays).
Outcome UntrustKey(const Environment& env, const std::string& keyId);

}  // namespace trust
}  // namespace zrx
