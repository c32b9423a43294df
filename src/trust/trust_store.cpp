#include "trust/trust_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/directory.h"
#include "base/paths.h"
#include "base/text_file.h"
#include "base/text_utils.h"
#include "history/record_folder.h"
#include "kernel/installation.h"

namespace zrx::trust {

namespace {

constexpr size_t kMaxKeyFileBytes = 4096;

// A folder or file that decides what is trusted: it may belong only to the user running the
// program or to root, and nobody else may write it.
bool MayDecideTrust(const struct stat& info, const std::string& path, std::string& why) {
    if (info.st_uid != ::geteuid() && info.st_uid != 0) {
        why = path + " belongs to another user (uid " + std::to_string(info.st_uid) +
              "): trusted keys are taken only from the user's own or root's folders";
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why = path + " can be written by other users, who could make the program trust any key: "
                     "take their right to write away (chmod go-w " + path + ")";
        return false;
    }
    return true;
}

// The contents of a small file beneath `folder`, never through a link; false with why.
bool ReadSmallFile(const Directory& folder, const std::string& name, const std::string& path, size_t limit,
                   std::string& text, std::string& why) {
    // A regular file only: a FIFO or device in a trust folder would make every load wait.
    struct stat info {};
    std::string reason;
    const FileHandle file = folder.OpenRegular(name, reason, &info);
    if (!file.IsOpen()) {
        why = path + (reason.find("symbolic link") != std::string::npos ? " is a symbolic link"
                                                                        : " cannot be read as a file");
        return false;
    }
    if (!MayDecideTrust(info, path, why)) return false;
    text.assign(std::min<size_t>(static_cast<size_t>(info.st_size), limit + 1), '\0');
    const ssize_t got = ::read(file.Fd(), text.data(), text.size());
    if (got < 0 || static_cast<size_t>(got) > limit) {
        why = path + (got < 0 ? " cannot be read" : " is too large for a public key");
        return false;
    }
    text.resize(static_cast<size_t>(got));
    return true;
}

// The "*.pub" keys of the trust folder `name` of `parent` (at `parentPath`); a folder that is not
// there trusts nothing. Reached through `parent`, never through a link.
bool ReadTrustFolder(const Directory& parent, const std::string& parentPath, const std::string& name,
                     std::vector<TrustedKey>& keys, std::string& why) {
    const std::string path = JoinPath(parentPath, name);
    struct stat info {};
    if (!parent.IsOpen() || !parent.Look(name, info)) return true;
    std::string opened;
    const Directory folder = S_ISDIR(info.st_mode) ? parent.Beneath(name, opened) : Directory();
    struct stat now {};
    if (!S_ISDIR(info.st_mode) || !folder.IsOpen() || !folder.Info(now) || now.st_ino != info.st_ino) {
        why = path + (S_ISLNK(info.st_mode) ? " is a symbolic link" : " is not a folder that can be read");
        return false;
    }
    if (!MayDecideTrust(info, path, why)) return false;
    std::vector<std::string> names;
    if (!folder.List(names)) return why = path + " cannot be read", false;
    std::erase_if(names,
                  [](const std::string& entry) { return !EndsWith(entry, ".pub") || entry[0] == '.'; });
    std::sort(names.begin(), names.end());
    for (const std::string& entry : names) {
        const std::string file = JoinPath(path, entry);
        std::string text, unreadable;
        if (!ReadSmallFile(folder, entry, file, kMaxKeyFileBytes, text, why)) return false;
        auto key = ReadPublicKey(text, unreadable);
        if (!key) return why = file + " is not a public key (" + unreadable + "): remove it", false;
        const auto known =
            std::find_if(keys.begin(), keys.end(), [&](const TrustedKey& k) { return k.key.id == key->id; });
        // Two keys of one id cannot both be trusted: a signature names its key by the id alone.
        if (known != keys.end() && known->key.key != key->key)
            return why = file + " and " + known->file + " hold two different keys of the one id " +
                         key->IdText() + ": one of them is forged; remove it",
                   false;
        if (known == keys.end()) keys.push_back({*key, file});
    }
    return true;
}

// The installation's own trust folder, made when `create`; checked as the record's folders are.
Directory OpenInstallationTrust(const Environment& env, bool create, std::string& path, std::string& why) {
    auto record = history::OpenRecordFolder(env, create, why);
    if (!record) return Directory();
    path = JoinPath(record->ownPath, "trusted");
    return history::PrivateFolder(record->own, record->ownPath, "trusted", create, why);
}

}  // namespace

std::string SystemTrustFolder() {
    const char* folder = std::getenv("ZRXLIBUG_TRUSTED_D");
    return folder != nullptr && *folder != '\0' ? folder : "/etc/zrxlibug/trusted.d";
}

std::string InstallationTrustFolder(const Environment& env) {
    return JoinPath(JoinPath(InstallationDir(env), ".zrxlibug"), "trusted");
}

bool TrustedKeys(const Environment* env, std::vector<TrustedKey>& keys, std::string& why) {
    keys.clear();
    if (env != nullptr) {
        // The way to it is checked too: a folder on the way that others could swap would do. It is
        // reached through the installation folder held since start-up.
        const std::string installation = InstallationDir(*env);
        const auto folder = HeldFolder(*env, installation, why);
        struct stat info {};
        const std::string own = JoinPath(installation, ".zrxlibug");
        const bool hasOwn = folder && folder->Look(".zrxlibug", info);
        struct stat identity {};
        if (folder && (hasOwn || folder->Look(".zrxlibug.id", identity))) {
            // Nobody else may rename the folder away (taking its keys with it) or put another in
            // its place; and one that went missing is not taken for one that trusts nothing.
            if (!history::CheckHoldingFolder(*folder, installation, why)) return false;
            if (!hasOwn) {
                history::OpenOwnFolder(*folder, installation, false, why);
                return false;
            }
            if (!(S_ISDIR(info.st_mode) && MayDecideTrust(info, own, why))) {
                if (why.empty())
                    why = own + (S_ISLNK(info.st_mode)
                                     ? " is a symbolic link; the program keeps its own files only in a "
                                       "real folder: remove it"
                                     : " is not a folder");
                return false;
            }
            std::string opened;
            // The folder the installation's lock was taken on, while this program holds it.
            const auto locked = env->folders->Held(own);
            const Directory ownFolder = locked ? locked->Duplicate() : folder->Beneath(".zrxlibug", opened);
            struct stat now {};
            if (!ownFolder.IsOpen() || !ownFolder.Info(now) || (!locked && now.st_ino != info.st_ino)) {
                why = own + " changed while it was opened";
                return false;
            }
            if (!ReadTrustFolder(ownFolder, own, "trusted", keys, why)) return false;
        }
    }
    const std::string system = SystemTrustFolder();
    const size_t cut = system.rfind('/');
    std::string opened;
    const Directory parent =  // file-access: the system's trust folder, named by its fixed path, read once
        Directory::Open(cut == std::string::npos ? "." : system.substr(0, cut == 0 ? 1 : cut), opened);
    return ReadTrustFolder(parent, cut == std::string::npos ? "." : system.substr(0, cut == 0 ? 1 : cut),
                           system.substr(cut == std::string::npos ? 0 : cut + 1), keys, why);
}

bool TrustKey(const Environment& env, const std::string& publicKeyFile, TrustedKey& added, std::string& why) {
    std::string text;
    // A regular file of a key's size, looked at before it is read: a device or a FIFO is no key.
    if (!ReadWholeFile(publicKeyFile, text, kMaxKeyFileBytes)) {  // file-access: the key file the user names
        why = publicKeyFile + " cannot be read as a public key file (a regular file of at most " +
              std::to_string(kMaxKeyFileBytes) + " bytes)";
        return false;
    }
    std::string unreadable;
    const auto key = ReadPublicKey(text, unreadable);
    if (!key) return why = publicKeyFile + " is not a minisign public key: " + unreadable, false;
    // A second key of a known id is a forgery or a mistake either way: upgrades of the one are
    // told from those of the other by the id alone, so it is never trusted beside it.
    {
        std::vector<TrustedKey> keys;
        std::string unusable;
        if (!TrustedKeys(&env, keys, unusable))
            return why = "the installation's trusted keys cannot be used: " + unusable, false;
        for (const TrustedKey& known : keys) {
            if (known.key.id != key->id) continue;
            if (known.key.key == key->key) {
                added = known;
                return true;  // trusted already
            }
            why = publicKeyFile + " has the id " + key->IdText() + " of the trusted key " + known.file +
                  ", but is another key; it is not trusted (remove the other first, if it is the one to go)";
            return false;
        }
    }
    std::string path;
    Directory folder = OpenInstallationTrust(env, true, path, why);
    if (!folder.IsOpen()) return false;
    const std::string name = key->IdText() + ".pub";
    const std::string content = PublicKeyFile(*key);
    if (!folder.ReplaceWhole(name, content, 0644, JoinPath(path, name), why)) return false;
    // Trusted only once the installation's keys, read as every load reads them, hold it.
    std::vector<TrustedKey> keys;
    std::string unusable;
    if (!TrustedKeys(&env, keys, unusable))
        return why = "the key was written, but the installation's trusted keys cannot be used: " + unusable, false;
    const auto held = std::find_if(keys.begin(), keys.end(), [&](const TrustedKey& k) { return k.key.id == key->id; });
    if (held == keys.end()) return why = JoinPath(path, name) + " was written, but is not read back as a trusted key", false;
    added = *held;
    return true;
}

bool UntrustKey(const Environment& env, const std::string& keyId, std::string& why) {
    std::vector<TrustedKey> keys;
    if (!TrustedKeys(&env, keys, why)) return false;
    // Read as a number, so that an id printed without its leading zeros finds its key too.
    const auto id = KeyIdFromText(keyId);
    if (!id) return why = "\"" + keyId + "\" is not a key id (up to 16 hex digits)", false;
    const std::string wanted = KeyIdText(*id);
    const auto it = std::find_if(keys.begin(), keys.end(), [&](const TrustedKey& k) { return k.key.id == *id; });
    if (it == keys.end()) return why = "no key this installation trusts has the id " + keyId, false;
    std::string path;
    Directory folder = OpenInstallationTrust(env, false, path, why);
    const std::string name = FileNameOf(it->file);
    if (!folder.IsOpen() || JoinPath(path, name) != it->file) {
        why = "the key " + wanted + " is trusted by every installation of this machine (" + it->file +
              "); only its administrator can take it away";
        return false;
    }
    if (::unlinkat(folder.Fd(), name.c_str(), 0) != 0) return why = it->file + " cannot be removed: " + std::strerror(errno), false;
    folder.Sync();
    // The same key may be trusted under a second file name too.
    std::vector<TrustedKey> left;
    std::string unused;
    if (TrustedKeys(&env, left, unused))
        for (const TrustedKey& k : left)
            if (k.key.id == *id) return UntrustKey(env, keyId, why);
    return true;
}

}  // namespace zrx::trust
