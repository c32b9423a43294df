#include "preview/text_diff.h"

#include <git2.h>

namespace zrx::preview {

namespace {

// libgit2 is started once for the program's life: its diff of two buffers needs no repository.
struct GitLibrary {
    GitLibrary() { git_libgit2_init(); }
    ~GitLibrary() { git_libgit2_shutdown(); }
};

int AddLine(const git_diff_delta*, const git_diff_hunk*, const git_diff_line* line, void* payload) {
    std::string& text = *static_cast<std::string*>(payload);
    switch (line->origin) {
        case GIT_DIFF_LINE_CONTEXT:
        case GIT_DIFF_LINE_ADDITION:
        case GIT_DIFF_LINE_DELETION:
            text += line->origin;
            break;
        case GIT_DIFF_LINE_CONTEXT_EOFNL:
        case GIT_DIFF_LINE_ADD_EOFNL:
        case GIT_DIFF_LINE_DEL_EOFNL:
            break;  // "\ No newline at end of file", as its own line
        default:
            break;
    }
    text.append(line->content, line->content_len);
    return 0;
}

int AddHunk(const git_diff_delta*, const git_diff_hunk* hunk, void* payload) {
    static_cast<std::string*>(payload)->append(hunk->header, hunk->header_len);
    return 0;
}

}  // namespace

std::string UnifiedDiff(std::string_view installed, std::string_view upgrade,
                        const std::string& installedName, const std::string& upgradeName) {
    if (installed == upgrade) return {};
    if (installed.find('\0') != std::string_view::npos || upgrade.find('\0') != std::string_view::npos)
        return "Binary files " + installedName + " and " + upgradeName + " differ\n";
    static GitLibrary library;
    git_diff_options options = GIT_DIFF_OPTIONS_INIT;
    options.context_lines = 3;
    options.flags = GIT_DIFF_FORCE_TEXT;
    std::string hunks;
    if (git_diff_buffers(installed.data(), installed.size(), installedName.c_str(), upgrade.data(),
                         upgrade.size(), upgradeName.c_str(), &options, nullptr, nullptr, AddHunk, AddLine,
                         &hunks) != 0)
        return "The files " + installedName + " and " + upgradeName + " differ\n";
    return "--- " + installedName + "\n+++ " + upgradeName + "\n" + hunks;
}

}  // namespace zrx::preview
