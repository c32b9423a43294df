#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"

namespace zrx {
class Directory;
}

namespace zrx::archive {

// Whether a path names an upgrade that travels as one file: it ends in .zip, .tar, .tar.gz, .tgz,
// .tar.xz or .txz, in any letter case.
bool IsArchiveName(std::string_view path);

// How much an archive may unpack to. An archive may come from anywhere, so what it holds is
// bounded before it can fill the disk or the folder.
struct Limits {
    uint64_t entries = 100000;                // entries, and the files and folders they name
    uint64_t fileBytes = uint64_t{2} << 30;   // one file
    uint64_t totalBytes = uint64_t{8} << 30;  // all files together
    uint64_t ratio = 200;  // all files together, at most this many times the archive file's size (0: no such bound)
};

// The caller's rule for one component of an entry's name: the reason it is refused, or nothing.
using NameCheck = std::function<std::optional<std::string>(std::string_view component)>;

// What unpacking gave. On success `folder` is the upgrade folder: the one folder that holds every
// entry when there is one, otherwise the destination itself. On refusal `entry` is the entry
// refused, printable (control characters escaped; empty when the refusal is about the whole
// archive) and `why` is one sentence that names it and the reason.
struct Unpacked {
    bool ok = false;
    std::string folder;
    std::string entry;
    std::string why;
};

// Unpacks a zip or tar archive (plain, gzip or xz) into `into`, an existing, empty folder of the
// user's own. Only plain files and folders are made, each beneath `into` through directory
// handles; names that climb, absolute names, links, devices, names used twice, names `check`
// refuses, and more than `limits` allow refuse the whole archive, and then nothing is left in
// `into`. Files get mode 0600 and folders 0700, plus the read and execute bits the archive gives
// them; files and folders keep their modification times.
Unpacked Unpack(const std::string& archivePath, const std::string& into, const Limits& limits, const NameCheck& check);
// The same into an open folder (`into` names it): what is made is made beneath that handle.
Unpacked Unpack(const std::string& archivePath, const Directory& folder, const std::string& into,
                const Limits& limits, const NameCheck& check);
// The part of `unpacked.folder` beneath the folder it was unpacked into ("" for that folder itself).
std::string TopFolderOf(const Unpacked& unpacked, const std::string& into);

// Writes the regular files `names` (plain names) of `folder` into a deflated zip at `zipPath`, with
// their modification times and permissions. The zip is written whole to a temporary file beside
// `zipPath`, made durable, and renamed over it; nothing is left behind on failure.
Outcome WriteZip(const Directory& folder, const std::vector<std::string>& names, const std::string& zipPath);

}  // namespace zrx::archive
