#include "base/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace zrx {

namespace {
constexpr size_t kChunk = 1 << 16;

// The first CR or LF at or after `from`, or npos: the LF by a fast search, then a CR before it.
size_t FindLineEnd(const std::string& text, size_t from) {
    if (from >= text.size()) return std::string::npos;
    const char* start = text.data() + from;
    const size_t rest = text.size() - from;
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', rest));
    const size_t before = lf != nullptr ? static_cast<size_t>(lf - start) : rest;
    const auto* cr = static_cast<const char*>(std::memchr(start, '\r', before));
    if (cr != nullptr) return from + static_cast<size_t>(cr - start);
    return lf != nullptr ? from + before : std::string::npos;
}
}  // namespace

std::unique_ptr<TextInput> TextInput::Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    FileHandle file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* stream = ::fdopen(fd, "rb");
    if (stream == nullptr) return nullptr;
    (void)file.Release();
    return std::unique_ptr<TextInput>(new TextInput(stream));
}

std::unique_ptr<TextInput> TextInput::OpenAt(const Directory& folder, const std::string& name) {
    auto file = folder.OpenRegular(name);
    if (!file) return nullptr;
    return Adopt(std::move(*file));
}

std::unique_ptr<TextInput> TextInput::Adopt(FileHandle file) {
    std::FILE* stream = ::fdopen(file.Fd(), "rb");
    if (stream == nullptr) return nullptr;
    (void)file.Release();
    return std::unique_ptr<TextInput>(new TextInput(stream));
}

TextInput::~TextInput() {
    std::fclose(m_file);
}

size_t TextInput::Size() const {
    struct stat info {};
    return ::fstat(::fileno(m_file), &info) == 0 && info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
}

bool TextInput::Fill() {
    if (m_eof) return false;
    if (m_pos > 0) {
        m_buffer.erase(0, m_pos);
        m_pos = 0;
    }
    const size_t old = m_buffer.size();
    m_buffer.resize(old + kChunk);
    const size_t got = std::fread(m_buffer.data() + old, 1, kChunk, m_file);
    m_buffer.resize(old + got);
    if (got == 0) m_eof = true;
    return got > 0;
}

bool TextInput::ReadLine(std::string& line) {
    std::string_view view;
    if (!ReadLine(view)) return false;
    line.assign(view);
    return true;
}

bool TextInput::ReadLine(std::string_view& line) {
    if (m_tooLong) return false;
    size_t scanned = 0;  // characters after m_pos already searched for a line end
    for (;;) {
        const size_t end = FindLineEnd(m_buffer, m_pos + scanned);
        if (end != std::string::npos) {
            if (m_buffer[end] == '\r' && end + 1 == m_buffer.size() && !m_eof) {
                // A CR at the end of the buffer may be the first half of CR LF: read on first.
                scanned = end - m_pos;
                Fill();
                continue;
            }
            if (end - m_pos > kMaxLineLength) {
                m_tooLong = true;
                return false;
            }
            line = std::string_view(m_buffer).substr(m_pos, end - m_pos);
            size_t next = end + 1;
            if (m_buffer[end] == '\r' && next < m_buffer.size() && m_buffer[next] == '\n') ++next;
            m_pos = next;
            return true;
        }
        if (m_buffer.size() - m_pos > kMaxLineLength) {
            m_tooLong = true;
            return false;
        }
        scanned = m_buffer.size() - m_pos;
        if (!Fill()) {
            if (m_pos >= m_buffer.size()) return false;
            line = std::string_view(m_buffer).substr(m_pos);
            m_pos = m_buffer.size();
            return true;
        }
    }
}

std::unique_ptr<TextOutput> TextOutput::Open(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const auto folder = Directory::Open(dir);
    if (!folder) return nullptr;
    return OpenAt(*folder, slash == std::string::npos ? path : path.substr(slash + 1));
}

std::unique_ptr<TextOutput> TextOutput::OpenAt(const Directory& folder, const std::string& name) {
    if (!IsPlainComponent(name)) return nullptr;
    struct stat info {};
    const bool exists = folder.Look(name, info);
    if (exists && S_ISDIR(info.st_mode)) return nullptr;
    auto temporary = folder.CreateTemporary(name);
    if (!temporary) return nullptr;
    std::string temp = std::move(temporary->name);
    const int fd = temporary->file.Release();
    // Keep the permissions of the file being replaced; a new file (or one in place of a link) gets
    // the usual ones.
    if (exists && S_ISREG(info.st_mode)) {
        ::fchmod(fd, info.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    return std::unique_ptr<TextOutput>(new TextOutput(folder.Duplicate(), name, std::move(temp), fd));
}

TextOutput::TextOutput(Directory folder, std::string target, std::string temp, int fd)
    : m_folder(std::move(folder)), m_target(std::move(target)), m_temp(std::move(temp)), m_fd(fd) {}

TextOutput::~TextOutput() {
    if (!m_committed) ::unlinkat(m_folder.Fd(), m_temp.c_str(), 0);
    if (m_fd >= 0) ::close(m_fd);
}

bool TextOutput::WriteOut(std::string_view text) {
    if (!m_failed && !WriteAll(m_fd, text)) {
        m_failed = true;
        m_error = std::strerror(errno);
    }
    return !m_failed;
}

bool TextOutput::Flush() {
    WriteOut(m_pending);
    m_pending.clear();
    return !m_failed;
}

void TextOutput::Write(std::string_view text) {
    if (m_failed) return;
    if (text.size() >= kChunk) {  // a large text goes out as it is, not through a copy
        if (Flush()) WriteOut(text);
        return;
    }
    m_pending.append(text);
    if (m_pending.size() >= kChunk) Flush();
}

void TextOutput::WriteLine(std::string_view text) {
    Write(text);
    Write("\r\n");
}

Outcome TextOutput::Commit(const std::function<bool(const struct stat& written)>& beforeRename) {
    if (m_committed) return {};
    if (!Flush()) return Failure{m_error};
    if (::fsync(m_fd) != 0) return Failure{std::strerror(errno)};
    if (beforeRename) {
        struct stat written {};
        if (::fstat(m_fd, &written) != 0) return Failure{std::strerror(errno)};
        if (!beforeRename(written)) return Failure{"it was not put in place"};
    }
    // Renamed while it is still open: the lock on the temporary file lasts until it has its name.
    if (::renameat(m_folder.Fd(), m_temp.c_str(), m_folder.Fd(), m_target.c_str()) != 0)
        return Failure{std::strerror(errno)};
    m_committed = true;
    m_folder.Sync();
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (!closed) return Failure{std::strerror(errno)};
    return {};
}

bool ReadWholeFile(const std::string& path, std::string& content, size_t limit) {
    content.clear();
    FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!file.IsOpen() || ::fstat(file.Fd(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) > limit)
        return false;
    ::fcntl(file.Fd(), F_SETFL, ::fcntl(file.Fd(), F_GETFL) & ~O_NONBLOCK);
    // The size is a first guess; a file that grows meanwhile is read to its end all the same.
    content.resize(static_cast<size_t>(std::max<off_t>(info.st_size, 0)) + 1);
    size_t got = 0;
    for (;;) {
        if (got == content.size()) {
            if (got > limit) return content.clear(), false;
            content.resize(std::min(2 * content.size(), limit + 1));
        }
        const ssize_t n = ::read(file.Fd(), content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            content.resize(got);
            return n == 0;
        }
        got += static_cast<size_t>(n);
    }
}

}  // namespace zrx
