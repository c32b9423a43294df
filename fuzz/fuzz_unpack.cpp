// An upgrade archive from anywhere, unpacked with small limits: whatever it holds, nothing is made
// beside the destination, a refusal leaves the destination empty and says why on one line, and what
// is made is plain files and folders within the limits, with modes that give others no more than
// reading and running.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "archive/upgrade_archive.h"
#include "fuzz_support.h"
#include "upgrade_list/list_format.h"

namespace {

namespace fs = std::filesystem;

// The rule for a name that the program passes: one an upgrade list can hold.
std::optional<std::string> PlainName(std::string_view name) { return zrx::UnlistableNameReason(name, true); }

void Require(bool holds) {
    if (!holds) std::abort();
}

bool OnOneLine(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 32 || c == 127) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = zrx::fuzz::ScratchDir() + "/input";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::string into = zrx::fuzz::ScratchDir() + "/into-XXXXXX";
    Require(::mkdtemp(into.data()) != nullptr);
    const zrx::archive::Limits limits{.entries = 64, .fileBytes = 1 << 20, .totalBytes = 4 << 20, .ratio = 200};

    const zrx::archive::Unpacked result = zrx::archive::Unpack(input, into, limits, PlainName);

    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(zrx::fuzz::ScratchDir()))
        Require(entry.path() == input || entry.path() == into);
    Require(OnOneLine(result.entry) && OnOneLine(result.why));
    if (!result.ok) {
        Require(!result.why.empty());
        Require(fs::is_empty(into));
    } else {
        Require(result.folder == into || fs::path(result.folder).parent_path() == into);
        uint64_t total = 0;
        for (auto it = fs::recursive_directory_iterator(into); it != fs::recursive_directory_iterator(); ++it) {
            struct stat info {};
            Require(::lstat(it->path().c_str(), &info) == 0);
            Require(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode));
            Require((info.st_mode & 07022) == 0 && (info.st_mode & 0600) == 0600);
            if (S_ISREG(info.st_mode)) {
                Require(static_cast<uint64_t>(info.st_size) <= limits.fileBytes);
                total += static_cast<uint64_t>(info.st_size);
            }
        }
        Require(total <= limits.totalBytes && total <= limits.ratio * size);
    }
    fs::remove_all(into, ec);
    Require(!ec);
    return 0;
}
