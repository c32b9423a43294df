// Manifests as they come with an upgrade from anywhere: the input read as Upgrade.sha256, and what
// reads written again and read back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "trust/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx::trust;
    const auto digests = ReadManifest(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!digests) {
        if (digests.Why().empty()) std::abort();  // a refusal always says why
        return 0;
    }
    std::vector<ManifestEntry> entries;
    for (const auto& [name, digest] : *digests) entries.push_back({name, digest});
    const auto again = ReadManifest(ManifestText(entries));
    if (!again || *again != *digests) std::abort();
    return 0;
}
