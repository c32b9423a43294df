#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/directory.h"
#include "base/outcome.h"

namespace zrx {

// Longest line a reader accepts. Lines of lists and index files are short; a longer one is damage
// (or an attack) and ends the read as a failure instead of filling the memory.
inline constexpr size_t kMaxLineLength = 1 << 20;

// A text file opened for sequential line reading. A line ends at CR LF, LF or a lone CR; the line
// end is not part of the line. After the last line, ReadLine fails.
class TextInput {
public:
    // Opens the file; nullptr when it cannot be opened (missing, not a regular file, no
    // permission). A FIFO or device is never opened: its read could wait forever.
    static std::unique_ptr<TextInput> Open(const std::string& path);
    // The same for the entry `name` of an open folder, never through a link.
    static std::unique_ptr<TextInput> OpenAt(const Directory& folder, const std::string& name);
    // The same for a regular file opened already, read from where it stands.
    static std::unique_ptr<TextInput> Adopt(FileHandle file);
    ~TextInput();
    TextInput(const TextInput&) = delete;
    TextInput& operator=(const TextInput&) = delete;

    // Reads the next line into `line`; false at the end of the file, on a read error or on a line
    // longer than kMaxLineLength (then `LineTooLong()` tells which).
    bool ReadLine(std::string& line);
    // The same without a copy: `line` views the reader's buffer until the next read.
    bool ReadLine(std::string_view& line);
    bool LineTooLong() const { return m_tooLong; }
    // The size of the file this reader has open (0 when it cannot be told).
    size_t Size() const;

private:
    explicit TextInput(std::FILE* file) : m_file(file) {}
    bool Fill();

    std::FILE* m_file;
    std::string m_buffer;
    size_t m_pos = 0;
    bool m_eof = false;
    bool m_tooLong = false;
};

// A file written as a whole: the text goes into a temporary file in the same directory, and
// Commit() puts it in place of the target in one rename, so that a reader (or a crash) sees either
// the old file or the complete new one. Without Commit() the temporary file is removed and the
// target stays as it was. A replaced file keeps its permissions.
class TextOutput {
public:
    static std::unique_ptr<TextOutput> Open(const std::string& path);
    // The entry `name` of an open folder: the temporary file is made there and renamed over `name`
    // there, whatever becomes of the folder's path meanwhile. A link at `name` is replaced, never
    // written through.
    static std::unique_ptr<TextOutput> OpenAt(const Directory& folder, const std::string& name);
    ~TextOutput();
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    void Write(std::string_view text);
    // Writes the text followed by CR LF.
    void WriteLine(std::string_view text);
    // Flushes the file to the disk and renames it over the target; a failure (and the target
    // untouched) when any write, the flush or the rename failed. `beforeRename`, when given, is
    // shown the finished file (its identity stays the same through the rename) and may still stop
    // it by returning false.
    Outcome Commit(const std::function<bool(const struct stat& written)>& beforeRename = {});

private:
    TextOutput(Directory folder, std::string target, std::string temp, int fd);
    bool Flush();
    bool WriteOut(std::string_view text);

    Directory m_folder;
    std::string m_target;
    std::string m_temp;
    int m_fd;
    std::string m_pending;
    bool m_failed = false;
    bool m_committed = false;
    std::string m_error;
};

// Reads a whole file into memory; false when it cannot be read, is not a regular file (a FIFO or
// device is never read: it could wait or go on forever) or holds more than `limit` bytes.
bool ReadWholeFile(const std::string& path, std::string& content, size_t limit = SIZE_MAX);

}  // namespace zrx
