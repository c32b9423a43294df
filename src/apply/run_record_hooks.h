#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/outcome.h"

namespace zrx {

class Directory;
struct Target;

// A save the kernel reported done but could not make durable: the real path of its library and
// the element's name.
struct FailedSave {
    std::string library, name;
};

// The undo record of an update run as the run's steps see it. Each step tells it of a change right
// before making it, at the path it is about to write: the record then takes what is there now and
// makes it durable before the change is. A failure (with why) means the change could not be
// recorded: it must not be made.
class RunRecordHooks {
public:
    virtual ~RunRecordHooks() = default;

    // An element about to be saved into a library (a missing library is made by the save).
    struct ElementSave {
        const Target& library;  // as the run resolved it (a link followed), held open
        bool partLibrary;
        const std::string& name;        // the name it is saved under ("" saves nothing)
        const Directory& sourceFolder;  // the upgrade's folder
        const std::string& source;      // the upgrade library it comes from, in that folder
        const std::string& sourceName;  // its name there
        // The element saved is a merge of the upgrade's with the installed one (edited here): the
        // upgrade's is what the run installed there, the base of a later merge.
        bool merged = false;
    };
    // What the record says to a save: go on, or not, because the target library cannot be read
    // (the kernel's reason: nothing can be saved into it either) or the save cannot be recorded.
    struct SaveVerdict {
        enum class Kind { Go, LibraryRefused, NotRecorded } kind = Kind::Go;
        std::string why;
    };
    virtual SaveVerdict BeforeElementSave(const ElementSave& save) = 0;
    // After the save was reported done: reads the element back. False when the library does not
    // hold it after all.
    virtual bool AfterElementSave(const ElementSave& save) = 0;
    // The save was refused (a library that cannot be written): where the element is as it was
    // before the run, nothing of it is kept as a change.
    virtual void ElementSaveFailed(const ElementSave& save) = 0;

    // A folder about to be made (a subcircuit's subdirectory).
    virtual Outcome BeforeFolderMade(const std::string& path) = 0;

    // A data file about to take the place of `path` (as the run names it) by a rename of a new
    // file in `dir` over `name` there: the file itself, or the file a link at `path` leads to.
    // Staged changes become durable together (CommitStaged) before any of them is made; each is
    // then told how it ended (AfterFileChange, with the new file and the SHA-256 of its bytes, or
    // null when it was not made).
    struct FileChange {
        const std::string& path;
        const Directory& dir;
        const std::string& name;
        bool throughLink;
        const struct stat* replaced;  // the file replaced (a link followed); null for a new file
        // What the upgrade offers there, kept as the base of a later merge: an open file of its
        // bytes (read from its start; -1: nothing is kept) and their SHA-256; `merged` when the new
        // file is a merge of them with the installed file (edited here).
        int offered = -1;
        std::string offeredDigest;
        bool merged = false;
    };
    // The change's ticket (above 0).
    virtual Result<int64_t> StageFileChange(const FileChange& change) = 0;
    virtual Outcome CommitStaged() = 0;
    virtual void AfterFileChange(int64_t ticket, const struct stat* written, const std::string& digest) = 0;

    // An index file about to be rewritten (`target`: where it is written, a link followed): the
    // lines the run adds.
    virtual Outcome BeforeIndexSave(const Target& target, const std::vector<std::string>& lines) = 0;
    // The new file, written and about to replace the old one (false: it must not).
    virtual bool BeforeIndexReplace(const std::string& path, const struct stat& written) = 0;
};

}  // namespace zrx
