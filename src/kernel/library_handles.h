#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zrx {

class Directory;

// Opens the library file `name` of `folder` (an open folder) through the folder's handle: the
// kernel is given a path that resolves through it, so that the library opened is the one in the
// folder the caller checked, whatever becomes of the folder's path. A link at `name` is never
// followed. The handle (above 0), or 0 (E_LastError says why).
int32_t OpenLibraryIn(const Directory& folder, const std::string& name, const char* kind, int32_t writeFlag);
// The path that reaches `name` of `folder` through the folder's handle, for the kernel.
std::string LibraryPathIn(const Directory& folder, const std::string& name);

// The libraries one task reads or writes, each opened once (by path, kind and mode) and all closed
// when the task ends. A library the kernel refuses is remembered with the kernel's reason, so that
// its many elements are refused for the same reason without asking again.
class LibraryHandles {
public:
    LibraryHandles() = default;
    ~LibraryHandles();
    LibraryHandles(const LibraryHandles&) = delete;
    LibraryHandles& operator=(const LibraryHandles&) = delete;

    // The library `name` of `folder` (through its handle, as OpenLibraryIn): the handle (above 0),
    // or 0 with why in `why` when it is given.
    int32_t Open(const Directory& folder, const std::string& name, const char* kind, bool write = false,
                 std::string* why = nullptr);

private:
    struct Library {
        int32_t handle = 0;
        std::string why;
    };
    std::map<std::string, Library> m_open;
    std::string m_key;  // the key asked for, built in one buffer
};

}  // namespace zrx
