#include "kernel/library_handles.h"

#include <sys/stat.h>

#include "base/directory.h"
#include "base/text_utils.h"
#include "kernel/zrxkernel.h"

namespace zrx {

LibraryHandles::~LibraryHandles() {
    for (const auto& [key, library] : m_open)
        if (library.handle > 0) E_CloseLibrary(library.handle);
}

std::string LibraryPathIn(const Directory& folder, const std::string& name) {
    return folder.PathThrough(name);
}

int32_t OpenLibraryIn(const Directory& folder, const std::string& name, const char* kind, int32_t writeFlag) {
    if (!folder.IsOpen() || !IsPlainComponent(name)) return 0;
    // file-access: the path resolves through the folder's handle, never through the folder's path
    return E_OpenLibrary(LibraryPathIn(folder, name).c_str(), kind, writeFlag);
}

int32_t LibraryHandles::Open(const Directory& folder, const std::string& name, const char* kind, bool write,
                             std::string* why) {
    dev_t device = 0;
    ino_t inode = 0;
    std::string& key = m_key;
    key.clear();
    if (folder.Identity(device, inode))
        key.append(std::to_string(device)).append(1, ':').append(std::to_string(inode));
    else
        key.append(1, '?');
    key.append(1, '\0').append(name).append(1, '\0').append(kind).append(write ? "\1" : "\2");
    auto it = m_open.find(key);
    if (it == m_open.end()) {
        Library library;
        library.handle = OpenLibraryIn(folder, name, kind, write ? -1 : 0);
        if (library.handle < 1) {
            library.handle = 0;
            library.why = StringFromPointer(E_LastError());
            if (library.why.empty()) library.why = "it cannot be opened";
        }
        it = m_open.emplace(key, std::move(library)).first;
    }
    if (why) *why = it->second.why;
    return it->second.handle;
}

}  // namespace zrx
