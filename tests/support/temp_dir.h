#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zrx::test {

// A fresh directory under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zrxtest-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(std::string_view name) const { return m_path + "/" + std::string(name); }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, std::string_view content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A short fingerprint of a file's bytes (its size and a hash), for "unchanged" checks that print
// readably when they fail. "missing" for a file that does not exist.
inline std::string Fingerprint(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "missing";
    const std::string bytes = ReadFile(path);
    return std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
}

// Every entry under a directory, one a line: its relative path, kind, and for files the
// fingerprint of the bytes and the modification time. Two equal snapshots mean nothing was
// created, removed, written or touched.
inline std::string TreeSnapshot(const std::string& dir) {
    namespace fs = std::filesystem;
    std::vector<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::string line = fs::relative(entry.path(), dir).string();
        if (entry.is_symlink()) line += " link";
        else if (entry.is_directory()) line += " dir";
        else
            line += " file " + Fingerprint(entry.path().string()) + " " +
                    std::to_string(entry.last_write_time().time_since_epoch().count());
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// Sets an environment variable for the lifetime of the object and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_had) ::setenv(m_name.c_str(), m_old.c_str(), 1);
        else ::unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::string m_old;
    bool m_had = false;
};

}  // namespace zrx::test
