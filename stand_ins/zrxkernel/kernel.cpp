// The C entry points of the kernel stand-in: libraries (through a pool of open library files),
// the working database and the shared string store. Single-threaded, like the program.
#include <openssl/evp.h>
#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "elements.h"
#include "library_file.h"
#include "working_database.h"
#include "zrxkernel.h"

namespace zrx::kernel {
namespace {

// Library files stay open behind E_CloseLibrary so that a run that touches the same library for
// every element does not reopen and recheck it each time. At most this many are kept.
constexpr size_t kPoolLimit = 32;

struct PooledFile {
    std::shared_ptr<LibraryFile> file;
    uint64_t lastUse = 0;
    std::chrono::steady_clock::time_point verified;  // when the path was last seen to be this file
};

// How long a pooled file is trusted to still be the file at its path before the path is looked
// at again: a run opens the same library for every element, and a file replaced by another
// program is noticed within this time.
constexpr std::chrono::milliseconds kVerifyInterval{100};

struct LibraryHandle {
    std::shared_ptr<LibraryFile> file;
    bool write = false;
};

struct Cursor {
    int32_t library = 0;
    std::string name;
    // Read cursors: the element as stored. Only the newest read cursor of a library keeps it; an
    // older one reads the element again when it is used, so that a library read element by
    // element does not hold every element it gave out until it is closed.
    std::optional<std::string> data;
};

// The cursors of one kind, and which of them belong to each open library, so that closing a
// library does not walk the cursors of every other one.
struct Cursors {
    std::unordered_map<int32_t, Cursor> byId;
    std::unordered_map<int32_t, std::vector<int32_t>> ofLibrary;

    const Cursor* Find(int32_t id) const {
        const auto it = byId.find(id);
        return it == byId.end() ? nullptr : &it->second;
    }
    void Add(int32_t id, Cursor cursor) {
        std::vector<int32_t>& ids = ofLibrary[cursor.library];
        if (!ids.empty())
            if (const auto newest = byId.find(ids.back()); newest != byId.end()) newest->second.data.reset();
        ids.push_back(id);
        byId[id] = std::move(cursor);
    }
    void DropLibrary(int32_t library) {
        const auto it = ofLibrary.find(library);
        if (it == ofLibrary.end()) return;
        for (const int32_t id : it->second) byId.erase(id);
        ofLibrary.erase(it);
    }
};

// Pin arrays, item arrays and items are handed out as numbers that name (object, index) pairs; a
// number lives as long as its object, so a long session does not pile them up.
class HandleTable {
public:
    int32_t Get(int32_t object, int32_t part) {
        const auto key = std::make_pair(object, part);
        if (const auto it = m_index.find(key); it != m_index.end()) return it->second;
        if (m_next == INT32_MAX) m_next = 1;
        const int32_t handle = m_next++;
        m_index[key] = handle;
        m_targets[handle] = key;
        return handle;
    }
    const std::pair<int32_t, int32_t>* Find(int32_t handle) const {
        const auto it = m_targets.find(handle);
        return it == m_targets.end() ? nullptr : &it->second;
    }
    void Forget(int32_t object) {
        auto it = m_index.lower_bound({object, INT32_MIN});
        while (it != m_index.end() && it->first.first == object) {
            m_targets.erase(it->second);
            it = m_index.erase(it);
        }
    }
    void Clear() {
        m_index.clear();
        m_targets.clear();
    }

private:
    std::map<std::pair<int32_t, int32_t>, int32_t> m_index;
    std::unordered_map<int32_t, std::pair<int32_t, int32_t>> m_targets;
    int32_t m_next = 1;
};

struct Kernel {
    Kernel() {
        std::atexit([] { Instance().FlushAll(); });
        db.onRemove = [this](int32_t object) {
            pinArrays.Forget(object);
            items.Forget(object);
        };
    }
    static Kernel& Instance() {
        static Kernel* kernel = new Kernel();  // never destroyed: atexit handlers may still use it
        return *kernel;
    }

    // The pool key of a file: its device and inode.
    static std::string KeyOf(const struct stat& info) {
        return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    }
    // The real path of a library's file, as failed saves name it.
    static std::string RealPathOf(const std::string& path) {
        char* real = ::realpath(path.c_str(), nullptr);
        std::string result = real ? std::string(real) : path;
        std::free(real);
        return result;
    }
    // A path that reaches its file through a folder handle ("/proc/self/fd/N/NAME") names another
    // file whenever the number is given to another folder: such a path is looked at every time.
    static bool ThroughHandle(const std::string& path) { return path.starts_with("/proc/self/fd/"); }

    std::shared_ptr<LibraryFile> OpenFile(const std::string& path, const std::string& kind, bool write) {
        const auto now = std::chrono::steady_clock::now();
        if (const auto known = pathKeys.find(path); known != pathKeys.end() && !ThroughHandle(path)) {
            const auto it = pool.find(known->second);
            if (it != pool.end() && now - it->second.verified < kVerifyInterval) {
                LibraryFile& cached = *it->second.file;
                if (cached.Kind() == kind && (!write || cached.Writable())) {
                    it->second.lastUse = ++useCounter;
                    cached.ForgetNames();
                    lastError.clear();
                    return it->second.file;
                }
            }
        }
        struct stat info {};
        // The file itself: a library that is a link is never opened (LibraryFile::Open says so).
        if (LookAtLibrary(path, info) && !S_ISLNK(info.st_mode)) {
            const auto it = pool.find(KeyOf(info));
            if (it != pool.end()) {
                LibraryFile& cached = *it->second.file;
                if (cached.Kind() == kind && (!write || cached.Writable() || cached.MakeWritable())) {
                    it->second.lastUse = ++useCounter;
                    it->second.verified = now;
                    cached.ForgetNames();
                    lastError.clear();
                    if (!ThroughHandle(path)) pathKeys[path] = it->first;
                    return it->second.file;
                }
                // One opened for reading that is now to be written: the old connection goes (at
                // once when nobody holds it).
                if (it->second.file.use_count() == 1) it->second.file->Settle();
                pool.erase(it);
            }
        }
        pathKeys.erase(path);
        OpenError error = OpenError::None;
        std::shared_ptr<LibraryFile> file = LibraryFile::Open(path, kind, write, error);
        lastError = Describe(error, kind);
        if (!file) return nullptr;
        const std::string key = KeyOf(file->Device(), file->Inode());
        if (const auto old = pool.find(key); old != pool.end() && old->second.file.use_count() == 1)
            old->second.file->Settle();
        pool[key] = PooledFile{file, ++useCounter, now};
        if (!ThroughHandle(path)) pathKeys[path] = key;
        TrimPool();
        return file;
    }
    static std::string KeyOf(dev_t device, ino_t inode) {
        return std::to_string(device) + ":" + std::to_string(inode);
    }

    void TrimPool() {
        while (pool.size() > kPoolLimit) {
            auto oldest = pool.end();
            for (auto it = pool.begin(); it != pool.end(); ++it)
                if (it->second.file.use_count() == 1 && (oldest == pool.end() || it->second.lastUse < oldest->second.lastUse))
                    oldest = it;
            if (oldest == pool.end()) return;
            oldest->second.file->Settle();
            pool.erase(oldest);
        }
    }

    // Commits every library's gathered saves and closes the files nobody holds open. False when
    // a save could not be made durable (its name is kept in failedSaves).
    bool FlushAll() {
        for (auto it = pool.begin(); it != pool.end();) {
            TakeFailedSaves(*it->second.file);
            if (it->second.file.use_count() == 1) {
                it->second.file->Settle();
                it = pool.erase(it);
            } else {
                ++it;
            }
        }
        return failedSaves.empty();
    }

    // Commits one file's gathered saves; those that could not be made durable are listed with
    // the file's real path. False when there were such.
    bool TakeFailedSaves(LibraryFile& file) {
        file.Commit();
        std::vector<std::string> failed = file.TakeFailedSaves();
        for (std::string& name : failed) failedSaves.push_back({RealPathOf(file.Path()), std::move(name)});
        return failed.empty();
    }

    struct FailedSave {
        std::string library, name;
    };
    std::vector<FailedSave> failedSaves;

    LibraryHandle* Library(int32_t handle) {
        const auto it = libraries.find(handle);
        return it == libraries.end() ? nullptr : &it->second;
    }

    int32_t NewCursor(Cursors& cursors, int32_t library, std::string name,
                      std::optional<std::string> data = std::nullopt) {
        if (nextCursor == INT32_MAX) nextCursor = 1;
        const int32_t id = nextCursor++;
        cursors.Add(id, Cursor{library, std::move(name), std::move(data)});
        return id;
    }

    Device* DeviceOf(int32_t id) {
        Object* obj = db.FindIn(kDeviceMap, id);
        return obj ? std::get_if<Device>(&obj->body) : nullptr;
    }
    Symbol* SymbolOf(int32_t id) {
        Object* obj = db.FindIn(kSymbolMap, id);
        return obj ? std::get_if<Symbol>(&obj->body) : nullptr;
    }

    static std::string Describe(OpenError error, const std::string& kind) {
        const std::string what = kind == ZK_KIND_PART_LIBRARY ? "part library" : "symbol library";
        switch (error) {
            case OpenError::None: return {};
            case OpenError::Missing: return "the file does not exist";
            case OpenError::NotALibrary: return "the file is not a library";
            case OpenError::WrongKind: return "the file is not a " + what + " (it is a library of the other kind)";
            case OpenError::NewerFormat: return "the library was written by a newer version of the program";
            case OpenError::Damaged: return "the library is damaged";
            case OpenError::CannotCreate: return "the library cannot be created or written there";
            case OpenError::Locked: return "the library is locked by another program";
            case OpenError::Link: return "the file is a symbolic link, which is never followed";
            case OpenError::SideFile:
                return "a file beside the library that holds its unfinished writes (its -journal, -wal or -shm) is "
                       "not a regular file: remove it";
            case OpenError::NameTooLong:
                return "the name is too long for a library: the names of the files kept beside it while it is "
                       "written would not fit (at most 247 bytes)";
            case OpenError::Interrupted:
                return "the library was left half-written by a program that was stopped; the next update or rollback "
                       "completes it";
        }
        return {};
    }

    std::string lastError;
    std::string digest;  // the text E_ElementDigest returns
    std::unordered_map<std::string, std::string> pathKeys;
    std::map<std::string, PooledFile> pool;
    uint64_t useCounter = 0;
    std::map<int32_t, LibraryHandle> libraries;
    int32_t nextLibrary = 1;
    Cursors readCursors;
    Cursors writeCursors;
    int32_t nextCursor = 1;
    WorkingDatabase db;
    std::map<std::string, std::string> strings;
    HandleTable pinArrays;  // (device, 0) supply pins, (device, group) group pins
    HandleTable items;      // (symbol, -1) item arrays, (symbol, position) items
};

Kernel& K() { return Kernel::Instance(); }

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

// The SHA-256 of a stored element, as 64 lower-case hex digits.
std::string Sha256Hex(const std::string& data) {
    // The digest is fetched once and its context kept: looking the algorithm up on every call
    // costs more than hashing an element.
    static EVP_MD* const kSha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    static EVP_MD_CTX* const context = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (kSha256 == nullptr || context == nullptr || EVP_DigestInit_ex(context, kSha256, nullptr) != 1 ||
        EVP_DigestUpdate(context, data.data(), data.size()) != 1 ||
        EVP_DigestFinal_ex(context, digest, &length) != 1)
        return {};
    static const char kHex[] = "0123456789abcdef";
    std::string text(2 * static_cast<size_t>(length), '0');
    for (unsigned int i = 0; i < length; ++i) {
        text[2 * i] = kHex[digest[i] >> 4];
        text[2 * i + 1] = kHex[digest[i] & 15];
    }
    return text;
}

bool IsKnownKind(const std::string& kind) { return kind == ZK_KIND_PART_LIBRARY || kind == ZK_KIND_SYMBOL_LIBRARY; }

// Where a loaded element goes: a slot number, or an existing object of the map that is reloaded.
bool ValidSlot(int32_t map, int32_t slot) {
    if (slot < 0) return true;
    return slot > 0 && K().db.FindIn(map, slot) != nullptr;
}

template <typename Decode>
int32_t LoadInto(int32_t map, int32_t slot, int32_t readCursor, Decode decode) {
    Kernel& k = K();
    const Cursor* cursor = k.readCursors.Find(readCursor);
    if (cursor == nullptr || !k.db.Exists() || !ValidSlot(map, slot)) return 0;
    const std::string* stored = cursor->data ? &*cursor->data : nullptr;
    if (stored == nullptr) {
        // An older cursor: its element is read again.
        LibraryHandle* library = k.Library(cursor->library);
        if (library != nullptr)
            if (const std::optional<std::string>& read = library->file->Read(cursor->name)) stored = &*read;
        if (stored == nullptr) return 0;
    }
    auto element = decode(*stored);
    if (!element) return 0;
    return k.db.Add(map, cursor->name, std::move(*element), slot);
}

int32_t SaveFrom(int32_t writeCursor, const std::string& data) {
    Kernel& k = K();
    const Cursor* cursor = k.writeCursors.Find(writeCursor);
    if (cursor == nullptr) return 0;
    LibraryHandle* library = k.Library(cursor->library);
    if (library == nullptr || !library->write) return 0;
    return library->file->Save(cursor->name, data) ? 1 : 0;
}

int32_t SearchIn(int32_t map, int32_t* cursor, const char* name, bool useMask, int32_t maskA, int32_t maskB) {
    const std::string wanted = name ? std::string(name) : std::string();
    const bool byName = name != nullptr;
    return K().db.Next(map, cursor, [&](int32_t, const Object& obj) {
        if (byName && obj.name != wanted) return false;
        if (!useMask || (maskA == 0 && maskB == 0)) return true;
        const auto* symbol = std::get_if<Symbol>(&obj.body);
        return symbol == nullptr || symbol->symbolClass == maskA || symbol->symbolClass == maskB;
    });
}

int32_t CreateComponent(int32_t map, const char* name, int32_t device, int32_t symbol) {
    Kernel& k = K();
    if (k.db.FindIn(kHierarchyMap, k.db.CurrentHierarchy()) == nullptr) return 0;
    return k.db.Add(map, Text(name), Component{k.db.CurrentHierarchy(), device, symbol});
}

int32_t SearchComponent(int32_t map, bool byDevice, int32_t target) {
    Kernel& k = K();
    int32_t cursor = k.db.First(map);
    const int32_t hierarchy = k.db.CurrentHierarchy();
    return k.db.Next(map, &cursor, [&](int32_t, const Object& obj) {
        const auto* component = std::get_if<Component>(&obj.body);
        return component != nullptr && component->hierarchy == hierarchy &&
               (byDevice ? component->device : component->symbol) == target;
    });
}

}  // namespace
}  // namespace zrx::kernel

using namespace zrx::kernel;

extern "C" {

int32_t E_OpenLibrary(const char* path, const char* kind, int32_t writeFlag) {
    const std::string kindText = Text(kind);
    Kernel& k = K();
    k.lastError = "invalid arguments";
    if (path == nullptr || *path == '\0' || !IsKnownKind(kindText) || (writeFlag != 0 && writeFlag != -1)) return 0;
    auto file = k.OpenFile(path, kindText, writeFlag == -1);
    if (!file) return 0;
    if (k.nextLibrary == INT32_MAX) k.nextLibrary = 1;
    const int32_t handle = k.nextLibrary++;
    k.libraries[handle] = LibraryHandle{std::move(file), writeFlag == -1};
    return handle;
}

int32_t E_OpenLibToRead(int32_t library, const char* name) {
    Kernel& k = K();
    LibraryHandle* handle = k.Library(library);
    if (handle == nullptr || name == nullptr) return 0;
    auto data = handle->file->Load(name);
    if (!data) return 0;
    return k.NewCursor(k.readCursors, library, name, std::move(*data));
}

int32_t E_CompareElements(int32_t libraryA, const char* nameA, int32_t libraryB, const char* nameB) {
    Kernel& k = K();
    LibraryHandle* a = k.Library(libraryA);
    LibraryHandle* b = k.Library(libraryB);
    if (a == nullptr || b == nullptr || nameA == nullptr || nameB == nullptr) return -3;
    k.lastError.clear();
    const std::optional<std::string>& readA = a->file->Read(nameA);
    if (!readA) return -1;
    // Each file keeps only the element it read last: with one file on both sides, the first is
    // copied.
    std::string copyA;
    const std::string& first = a->file == b->file ? (copyA = *readA) : *readA;
    auto readable = [](const LibraryHandle& handle, const std::string& data) {
        return StoredIntact(data, handle.file->Kind() == ZK_KIND_PART_LIBRARY);
    };
    // A damaged first element is damaged whether or not the second library holds one.
    if (!readable(*a, first)) {
        k.lastError = std::string("the element ") + nameA + " is damaged";
        return -3;
    }
    const std::optional<std::string>& second = b->file->Read(nameB);
    if (!second) return -2;
    if (!readable(*b, *second)) {
        k.lastError = std::string("the element ") + nameB + " is damaged";
        return -3;
    }
    return first == *second ? 1 : 0;
}

int32_t E_CopyElement(int32_t fromLibrary, const char* name, int32_t toLibrary, const char* toName) {
    Kernel& k = K();
    LibraryHandle* from = k.Library(fromLibrary);
    LibraryHandle* to = k.Library(toLibrary);
    k.lastError.clear();
    if (from == nullptr || to == nullptr || !to->write || name == nullptr || toName == nullptr || *toName == '\0')
        return 0;
    if (from->file->Kind() != to->file->Kind()) {
        k.lastError = "the libraries are of different kinds";
        return 0;
    }
    // Saving into the file read from ends its read: the element is copied first there.
    std::optional<std::string> copy;
    const std::optional<std::string>& data =
        from->file == to->file ? (copy = from->file->Load(name)) : from->file->Read(name);
    if (!data) return -1;
    if (!to->file->Save(toName, *data)) {
        k.lastError = to->file->LastError();
        return 0;
    }
    to->file->CommitIfOld();
    return 1;
}

int32_t E_DeleteElement(int32_t library, const char* name) {
    Kernel& k = K();
    LibraryHandle* handle = k.Library(library);
    k.lastError.clear();
    if (handle == nullptr || !handle->write || name == nullptr) return 0;
    if (!handle->file->Delete(name)) {
        k.lastError = handle->file->LastError();
        return 0;
    }
    handle->file->CommitIfOld();
    return 1;
}

const char* E_ElementDigest(int32_t library, const char* name) {
    Kernel& k = K();
    LibraryHandle* handle = k.Library(library);
    k.digest.clear();
    k.lastError.clear();
    if (handle == nullptr || name == nullptr) return k.digest.c_str();
    if (const auto& data = handle->file->Read(name)) k.digest = Sha256Hex(*data);
    else if (handle->file->ReadFailed()) k.lastError = "the library cannot be read: " + handle->file->LastError();
    return k.digest.c_str();
}

int32_t E_OpenLibToWrite(int32_t library, const char* name) {
    Kernel& k = K();
    LibraryHandle* handle = k.Library(library);
    if (handle == nullptr || !handle->write || name == nullptr || *name == '\0') return 0;
    return k.NewCursor(k.writeCursors, library, name);
}

int32_t E_CloseLibWrite(int32_t library) {
    Kernel& k = K();
    LibraryHandle* handle = k.Library(library);
    if (handle == nullptr) return 0;
    handle->file->CommitIfOld();
    k.writeCursors.DropLibrary(library);
    return 1;
}

int32_t E_CloseLibrary(int32_t library) {
    Kernel& k = K();
    LibraryHandle* handle = k.Library(library);
    if (handle == nullptr) return 0;
    handle->file->CommitIfOld();
    k.libraries.erase(library);
    k.readCursors.DropLibrary(library);
    k.writeCursors.DropLibrary(library);
    k.TrimPool();
    return 1;
}

const char* E_GetLibDirName(int32_t library, int32_t index) {
    LibraryHandle* handle = K().Library(library);
    if (handle == nullptr || index < 0) return nullptr;
    const auto& names = handle->file->Names();
    return static_cast<size_t>(index) < names.size() ? names[static_cast<size_t>(index)].c_str() : nullptr;
}

const char* E_LastError(void) { return K().lastError.c_str(); }

int32_t E_FlushLibraries(void) { return K().FlushAll() ? 1 : 0; }

int32_t E_FlushLibrary(int32_t library) {
    Kernel& k = K();
    LibraryHandle* handle = k.Library(library);
    return handle != nullptr && k.TakeFailedSaves(*handle->file) ? 1 : 0;
}

int32_t E_SetCommitHook(ZK_CommitHook hook, void* context) {
    LibraryFile::SetCommitHook(hook, context);
    return 1;
}

const char* E_FailedSave(int32_t index) {
    const auto& failed = K().failedSaves;
    return index >= 0 && static_cast<size_t>(index) < failed.size() ? failed[static_cast<size_t>(index)].name.c_str()
                                                                    : nullptr;
}

const char* E_FailedSaveLibrary(int32_t index) {
    const auto& failed = K().failedSaves;
    return index >= 0 && static_cast<size_t>(index) < failed.size()
               ? failed[static_cast<size_t>(index)].library.c_str()
               : nullptr;
}

int32_t E_ClearFailedSaves(void) {
    K().failedSaves.clear();
    return 1;
}

int32_t E_SetString(const char* key, const char* value) {
    if (key == nullptr) return 0;
    if (value == nullptr) K().strings.erase(key);
    else K().strings[key] = value;
    return 1;
}

const char* E_GetString(const char* key) {
    static const char kEmpty[] = "";
    if (key == nullptr) return kEmpty;
    const auto it = K().strings.find(key);
    return it == K().strings.end() ? kEmpty : it->second.c_str();
}

int32_t DB_DiscardDataBase(void) {
    Kernel& k = K();
    k.db.Discard();
    k.pinArrays.Clear();
    k.items.Clear();
    return 1;
}

int32_t DB_CreateDataBase(const char* database, char* hierarchy, char* page) {
    if (database == nullptr || hierarchy == nullptr || page == nullptr || *hierarchy == '\0' || *page == '\0')
        return 0;
    DB_DiscardDataBase();
    return K().db.Create(hierarchy, page) ? 1 : 0;
}

int32_t DB_HierarchyMap(void) { return kHierarchyMap; }
int32_t DB_PageMap(void) { return kPageMap; }
int32_t DB_FileMap(void) { return kFileMap; }
int32_t DB_SymbMap(void) { return kSymbolMap; }
int32_t DB_DeviceMap(void) { return kDeviceMap; }
int32_t DB_SchCompMap(void) { return kSchematicComponentMap; }
int32_t DB_LayCompMap(void) { return kLayoutComponentMap; }
int32_t DB_CurHier(void) { return K().db.CurrentHierarchy(); }

int32_t DB_SetCurHier(int32_t hierarchy) {
    if (K().db.FindIn(kHierarchyMap, hierarchy) == nullptr) return 0;
    K().db.SetCurrentHierarchy(hierarchy);
    return 1;
}

int32_t DB_SetCurPage(int32_t page) {
    if (K().db.FindIn(kPageMap, page) == nullptr) return 0;
    K().db.SetCurrentPage(page);
    return 1;
}

int32_t F_CreateFile(int32_t, const char* name) { return K().db.Add(kFileMap, Text(name), FileObject{}); }
int32_t DB_CreateHierarchy(const char* name) { return K().db.Add(kHierarchyMap, Text(name), Hierarchy{}); }

int32_t OM_FindName(int32_t map, const char* name) {
    if (name == nullptr) return 0;
    int32_t cursor = K().db.First(map);
    return SearchIn(map, &cursor, name, false, 0, 0);
}

int32_t OM_GetFirst(int32_t map) { return K().db.First(map); }

int32_t OM_SearchMask(int32_t map, int32_t* cursor, int32_t maskA, int32_t maskB) {
    return SearchIn(map, cursor, nullptr, true, maskA, maskB);
}

int32_t OM_SearchName(int32_t map, int32_t* cursor, const char* name) {
    if (name == nullptr) return 0;
    return SearchIn(map, cursor, name, false, 0, 0);
}

int32_t OM_SearchNameMask(int32_t map, int32_t* cursor, const char* name, int32_t maskA, int32_t maskB) {
    if (name == nullptr) return 0;
    return SearchIn(map, cursor, name, true, maskA, maskB);
}

int32_t OM_Delete(int32_t map, int32_t object) { return K().db.Remove(map, object) ? 1 : 0; }

int32_t O_Rename(int32_t object, const char* name) {
    Object* obj = K().db.Find(object);
    if (obj == nullptr || name == nullptr) return 0;
    obj->name = name;
    return 1;
}

const char* O_GetName(int32_t object) {
    static const char kEmpty[] = "";
    const Object* obj = K().db.Find(object);
    return obj ? obj->name.c_str() : kEmpty;
}

int32_t D_LoadDevice(int32_t slot, int32_t readCursor) {
    return LoadInto(kDeviceMap, slot, readCursor, [](const std::string& data) { return DecodeDevice(data); });
}

int32_t D_SaveDevice(int32_t device, int32_t writeCursor) {
    const Device* d = K().DeviceOf(device);
    return d ? SaveFrom(writeCursor, EncodeDevice(*d)) : 0;
}

int32_t D_Device(int32_t device) { return K().DeviceOf(device) ? device : 0; }

int32_t D_ReadDevice(int32_t device, ZK_DeviceRecord* record) {
    const Device* d = K().DeviceOf(device);
    if (d == nullptr) return 0;
    if (record != nullptr) {
        *record = ZK_DeviceRecord{0, 0, d->text1.c_str(), d->text2.c_str(), static_cast<int32_t>(d->supplyPins.size()),
                                  static_cast<int32_t>(d->groups.size())};
    }
    return 1;
}

int32_t D_CreateDevice(int32_t, const char* name, const char* text1, const char* text2) {
    return K().db.Add(kDeviceMap, Text(name), Device{Text(text1), Text(text2), {}, {}});
}

int32_t D_AddGroup(int32_t device, const char* name, const char* text2) {
    Device* d = K().DeviceOf(device);
    if (d == nullptr) return 0;
    d->groups.push_back(Group{Text(name), Text(text2), {}});
    return static_cast<int32_t>(d->groups.size());
}

int32_t D_SupplyPinArray(int32_t device) {
    Kernel& k = K();
    return k.DeviceOf(device) ? k.pinArrays.Get(device, 0) : 0;
}

int32_t D_GroupPinArray(int32_t device, int32_t group) {
    Kernel& k = K();
    const Device* d = k.DeviceOf(device);
    if (d == nullptr || group < 1 || static_cast<size_t>(group) > d->groups.size()) return 0;
    return k.pinArrays.Get(device, group);
}

namespace {
std::vector<Pin>* PinsOf(int32_t pinArray) {
    Kernel& k = K();
    const auto* target = k.pinArrays.Find(pinArray);
    if (target == nullptr) return nullptr;
    Device* d = k.DeviceOf(target->first);
    if (d == nullptr) return nullptr;
    if (target->second == 0) return &d->supplyPins;
    if (static_cast<size_t>(target->second) > d->groups.size()) return nullptr;
    return &d->groups[static_cast<size_t>(target->second - 1)].pins;
}
}  // namespace

int32_t D_AddPin(int32_t pinArray, int32_t number, const char* name) {
    std::vector<Pin>* pins = PinsOf(pinArray);
    if (pins == nullptr) return 0;
    pins->push_back(Pin{number, Text(name)});
    return static_cast<int32_t>(pins->size());
}

int32_t D_ReadGroup(int32_t device, int32_t group, ZK_GroupRecord* record) {
    const Device* d = K().DeviceOf(device);
    if (d == nullptr || group < 1 || static_cast<size_t>(group) > d->groups.size()) return 0;
    const Group& g = d->groups[static_cast<size_t>(group - 1)];
    if (record != nullptr) *record = ZK_GroupRecord{g.name.c_str(), g.text2.c_str(), static_cast<int32_t>(g.pins.size())};
    return 1;
}

int32_t D_ReadPin(int32_t pinArray, int32_t index, ZK_PinRecord* record) {
    const std::vector<Pin>* pins = PinsOf(pinArray);
    if (pins == nullptr || index < 1 || static_cast<size_t>(index) > pins->size()) return 0;
    const Pin& pin = (*pins)[static_cast<size_t>(index - 1)];
    if (record != nullptr) *record = ZK_PinRecord{pin.number, pin.name.c_str()};
    return 1;
}

int32_t S_LoadSymbol(int32_t slot, int32_t readCursor) {
    return LoadInto(kSymbolMap, slot, readCursor, [](const std::string& data) { return DecodeSymbol(data); });
}

int32_t S_SaveSymbol(int32_t symbol, int32_t writeCursor) {
    const Symbol* s = K().SymbolOf(symbol);
    return s ? SaveFrom(writeCursor, EncodeSymbol(*s)) : 0;
}

int32_t S_Symbol(int32_t symbol) { return K().SymbolOf(symbol) ? symbol : 0; }

int32_t S_ReadSymbol(int32_t symbol, ZK_SymbolRecord* record) {
    const Symbol* s = K().SymbolOf(symbol);
    if (s == nullptr) return 0;
    if (record != nullptr) *record = ZK_SymbolRecord{s->symbolClass, static_cast<int32_t>(s->items.size())};
    return 1;
}

int32_t S_CopySymbol(int32_t symbol, int32_t) {
    Kernel& k = K();
    const Object* obj = k.db.FindIn(kSymbolMap, symbol);
    if (obj == nullptr) return 0;
    Object copy = *obj;
    return k.db.Add(kSymbolMap, copy.name, std::move(copy.body));
}

int32_t S_CreateSymbol(const char* name, int32_t symbolClass) {
    return K().db.Add(kSymbolMap, Text(name), Symbol{symbolClass, {}});
}

int32_t S_AddItem(int32_t symbol, int32_t kind, const char* text) {
    Symbol* s = K().SymbolOf(symbol);
    if (s == nullptr) return 0;
    s->items.push_back(Item{kind, Text(text)});
    return static_cast<int32_t>(s->items.size());
}

int32_t S_SymbolItemArray(int32_t symbol) {
    Kernel& k = K();
    return k.SymbolOf(symbol) ? k.items.Get(symbol, -1) : 0;
}

int32_t IA_SearchMaskLink(int32_t itemArray, int32_t kindLow, int32_t kindHigh, int32_t index) {
    Kernel& k = K();
    const auto* target = k.items.Find(itemArray);
    if (target == nullptr || target->second != -1 || index < 0) return 0;
    const Symbol* s = k.SymbolOf(target->first);
    if (s == nullptr) return 0;
    int32_t seen = 0;
    for (size_t i = 0; i < s->items.size(); ++i) {
        const int32_t kind = s->items[i].kind;
        if (kind < kindLow || kind > kindHigh) continue;
        if (seen++ == index) return static_cast<int32_t>(i + 1);
    }
    return 0;
}

int32_t S_SymbolItem(int32_t itemArray, int32_t link) {
    Kernel& k = K();
    const auto* target = k.items.Find(itemArray);
    if (target == nullptr || target->second != -1 || link < 1) return 0;
    const Symbol* s = k.SymbolOf(target->first);
    if (s == nullptr || static_cast<size_t>(link) > s->items.size()) return 0;
    return k.items.Get(target->first, link - 1);
}

int32_t I_ReadItem(int32_t item, ZK_ItemRecord* record) {
    Kernel& k = K();
    const auto* target = k.items.Find(item);
    if (target == nullptr || target->second < 0) return 0;
    const Symbol* s = k.SymbolOf(target->first);
    if (s == nullptr || static_cast<size_t>(target->second) >= s->items.size()) return 0;
    const Item& it = s->items[static_cast<size_t>(target->second)];
    if (record != nullptr) {
        *record = ZK_ItemRecord{};
        record->kind = it.kind;
        record->text = it.text.c_str();
    }
    return it.kind;
}

int32_t C_CreateComponent(const char* name, int32_t device, int32_t symbol) {
    return CreateComponent(kSchematicComponentMap, name, device, symbol);
}
int32_t L_CreateComponent(const char* name, int32_t device, int32_t symbol) {
    return CreateComponent(kLayoutComponentMap, name, device, symbol);
}
int32_t C_SearchDevice(int32_t device) { return SearchComponent(kSchematicComponentMap, true, device); }
int32_t L_SearchDevice(int32_t device) { return SearchComponent(kLayoutComponentMap, true, device); }
int32_t C_SearchSymbol(int32_t symbol) { return SearchComponent(kSchematicComponentMap, false, symbol); }
int32_t L_SearchSymbol(int32_t symbol) { return SearchComponent(kLayoutComponentMap, false, symbol); }
int32_t C_Component(int32_t component) {
    return K().db.FindIn(kSchematicComponentMap, component) ? component : 0;
}
int32_t L_Component(int32_t component) { return K().db.FindIn(kLayoutComponentMap, component) ? component : 0; }

}  // extern "C"
