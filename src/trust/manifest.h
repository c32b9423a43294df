#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"

namespace zrx::trust {

// The files an upgrade folder carries besides its own: the digests of its files, and a signature
// of those digests.
inline constexpr std::string_view kManifestName = "Upgrade.sha256";
inline constexpr std::string_view kSignatureName = "Upgrade.sha256.minisig";

// Longest manifest a reader takes: a line per file of an upgrade is far less; more is damage.
inline constexpr size_t kMaxManifestBytes = 16 << 20;

// A file's name and the SHA-256 of its bytes (64 lower-case hex digits).
struct ManifestEntry {
    std::string name, digest;
};

// The manifest of these files in the form sha256sum writes and checks ("<digest>  <name>", one line
// each, LF), sorted by name byte for byte; a name holding a backslash or a line break is written
// escaped, with a backslash before the line, as sha256sum does.
std::string ManifestText(std::vector<ManifestEntry> entries);

// The digests a manifest gives, by file name. Nothing, with why (naming the line), when the text
// is not such a manifest: a line in another form, a name twice, a name that is not one plain file
// name, or more than kMaxManifestBytes. Lines may end in CR LF; hex digits in either case.
Result<std::map<std::string, std::string>> ReadManifest(std::string_view text);

}  // namespace zrx::trust
