#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "apply/run_state.h"
#include "base/dialogs.h"
#include "base/directory.h"
#include "base/text_keyed_set.h"
#include "kernel/installation.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// Rebuilds a net-list line blank by blank: runs of blanks become one, "=" is glued to what comes
// before it, brackets and parentheses stand apart, other characters below 32 or above 127 become
// blanks.
std::string NormaliseNetLine(std::string_view text);
// The words of a normalised text, cut at every single blank (numbered from 1 by the callers).
std::vector<std::string> SplitWords(std::string_view text);

// An index file held in memory while entries are added to it, so that many additions cost one
// read and one write. Each addition has exactly the effect of adding the entry to the file on its
// own: nothing when an identical line is there; otherwise right after the first line of the same
// library, or at the end. Blank lines are not kept.
//
// The texts of the lines sit in two buffers (the file's lines, the added entries) and the lines
// are a chain of small records through them, so that an index takes little more memory than the
// file itself.
class IndexFile {
public:
    enum class Kind { ModelIndex, SubcircuitIndex };  // library in field 3 / field 5; lines compared exactly / trimmed

    // Reads the file; nothing when it is missing or cannot be read (an index is never made).
    static std::unique_ptr<IndexFile> Load(const std::string& path, Kind kind);
    // The same for the entry `name` of an open folder (never through a link: the caller gives the
    // folder and name a link leads to); `path` names it.
    static std::unique_ptr<IndexFile> Load(const Directory& folder, const std::string& name,
                                           const std::string& path, Kind kind);
    // Adds an entry for library `library`; false when an identical line is already there. Line
    // breaks in the entry become blanks.
    bool Add(const std::string& entry, const std::string& library);
    // Writes the file (CR LF line ends) as a whole when something was added, into its own path or,
    // given, the entry `name` of `folder` (where a link at its path leads). `beforeRename` as for
    // TextOutput::Commit.
    Outcome Save(const std::function<bool(const struct stat& written)>& beforeRename = {},
                 const Directory* folder = nullptr, const std::string& name = {});
    bool Changed() const { return m_changed; }
    // The lines added since the file was loaded, in file order.
    std::vector<std::string> AddedLines() const;

private:
    static constexpr uint32_t kNone = UINT32_MAX;
    struct Line {
        uint64_t offset : 63;  // into m_fileText, or m_addedText when `added`
        uint64_t added : 1;
        uint32_t length;
        uint32_t next;  // the following line, or kNone
    };

    IndexFile(std::string path, Kind kind) : m_path(std::move(path)), m_kind(kind) {}
    std::string_view Text(uint32_t line) const;
    uint32_t NewLine(std::string_view text, bool added);
    std::string KeyOfLine(std::string_view line) const;
    void KeyOfLine(std::string_view line, std::string& key) const;
    std::string KeyOfLibrary(const std::string& library) const;
    // The part of a line that two lines must share to be the same entry.
    std::string_view DuplicateKey(std::string_view line) const;
    // The duplicate key of line `line`, by which m_present holds it.
    std::string_view PresentKey(uint32_t line) const;
    void Index();

    std::string m_path;
    Kind m_kind;
    std::string m_fileText, m_addedText;
    std::vector<Line> m_lines;
    uint32_t m_first = kNone, m_last = kNone;
    std::unordered_map<std::string, uint32_t> m_firstOfLibrary;
    TextKeyedSet m_present;  // the lines, by their duplicate keys
    bool m_changed = false;
};

// Adds the upgrade's selected subcircuit files to the installation's Subcir.idx, and its copied
// simulator models of model library files (.SML) to modpar.idx; the run's record is told before
// either is replaced.
void UpdateSubcircuitIndex(const Environment& env, LoadedUpgrade& upgrade, RunState& run,
                           ui::Dialogs& dialogs, ui::StatusLine& status);
void UpdateModelIndex(const Environment& env, const LoadedUpgrade& upgrade, RunState& run,
                      ui::Dialogs& dialogs, ui::StatusLine& status);

}  // namespace zrx
