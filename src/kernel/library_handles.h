#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zrx {

// The libraries one task reads or writes, each opened once (by path, kind and mode) and all closed
// when the task ends. A library the kernel refuses is remembered with the kernel's reason, so that
// its many elements are refused for the same reason without asking again.
class LibraryHandles {
public:
    LibraryHandles() = default;
    ~LibraryHandles();
    LibraryHandles(const LibraryHandles&) = delete;
    LibraryHandles& operator=(const LibraryHandles&) = delete;

    // The handle (above 0), or 0 with why in `why` when it is given.
    int32_t Open(const std::string& path, const char* kind, bool write = false, std::string* why = nullptr);

private:
    struct Library {
        int32_t handle = 0;
        std::string why;
    };
    std::map<std::string, Library> m_open;
};

}  // namespace zrx
