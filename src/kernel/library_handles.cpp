#include "kernel/library_handles.h"

#include "base/text_utils.h"
#include "kernel/zrxkernel.h"

namespace zrx {

LibraryHandles::~LibraryHandles() {
    for (const auto& [key, library] : m_open)
        if (library.handle > 0) E_CloseLibrary(library.handle);
}

int32_t LibraryHandles::Open(const std::string& path, const char* kind, bool write, std::string* why) {
    std::string key = path;
    key += '\0';
    key += kind;
    key += write ? "\1" : "\2";
    auto it = m_open.find(key);
    if (it == m_open.end()) {
        Library library;
        library.handle = E_OpenLibrary(path.c_str(), kind, write ? -1 : 0);
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
