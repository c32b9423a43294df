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
    struct stat info {};
    std::string key =
        folder.Info(info) ? std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) : "?";
    key += '\0';
    key += name;
    key += '\0';
    key += kind;
    key += write ? "\1" : "\2";
    auto it = m_open.find(key);
    if (it == m_open.end()) {
        Library library;
        library.handle = OpenLibraryIn(folder, name, kind, write ? -1 : 0);
        if (library.handle < 1) {
            library.handle = 0;
            library.why = StringFromPointer(E_LastError());
            if (library.why.empty()) library.why = "it cannot be opened";
        }
        it = m_open.emplace(std::move(key), std::move(library)).first;
    }
    if (why) *why = it->second.why;
    return it->second.handle;
}

}  // namespace zrx
