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
Outcome MayDecideTrust(const struct stat& info, const std::string& path) {
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return Failure{path + " belongs to another user (uid " + std::to_string(info.st_uid) +
                       "): trusted keys are taken only from the user's own or root's folders"};
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Failure{path +
                       " can be written by other users, who could make the program trust any key: "
                       "take their right to write away (chmod go-w " +
                       path + ")"};
    return {};
}

// The contents of a small file beneath `folder`, never through a link.
Result<std::string> ReadSmallFile(const Directory& folder, const std::string& name, const std::string& path,
                                  size_t limit) {
    // A regular file only: a FIFO or device in a trust folder would make every load wait.
    struct stat info {};
    const auto file = folder.OpenRegular(name, &info);
    if (!file)
        return Failure{path + (file.Why().find("symbolic link") != std::string::npos
                                   ? " is a symbolic link"
                                   : " cannot be read as a file")};
    if (const Outcome trusted = MayDecideTrust(info, path); !trusted) return Failure{trusted.Why()};
    std::string text(std::min<size_t>(static_cast<size_t>(info.st_size), limit + 1), '\0');
    const ssize_t got = ::read(file->Fd(), text.data(), text.size());
    if (got < 0 || static_cast<size_t>(got) > limit)
        return Failure{path + (got < 0 ? " cannot be read" : " is too large for a public key")};
    text.resize(static_cast<size_t>(got));
    return text;
}

// The "*.pub" keys of the trust folder `name` of `parent` (at `parentPath`), added to `keys`; a
// folder that is not there trusts nothing. Reached through `parent`, never through a link.
Outcome ReadTrustFolder(const Directory& parent, const std::string& parentPath, const std::string& name,
                        std::vector<TrustedKey>& keys) {
    const std::string path = JoinPath(parentPath, name);
    struct stat info {};
    if (!parent.IsOpen() || !parent.Look(name, info)) return {};
    const auto folder = S_ISDIR(info.st_mode) ? parent.Beneath(name) : Result<Directory>(Failure{});
    struct stat now {};
    if (!folder || !folder->Info(now) || now.st_ino != info.st_ino)
        return Failure{path +
                       (S_ISLNK(info.st_mode) ? " is a symbolic link" : " is not a folder that can be read")};
    if (const Outcome trusted = MayDecideTrust(info, path); !trusted) return trusted;
    std::vector<std::string> names;
    if (!folder->List(names)) return Failure{path + " cannot be read"};
    std::erase_if(names,
                  [](const std::string& entry) { return !EndsWith(entry, ".pub") || entry[0] == '.'; });
    std::sort(names.begin(), names.end());
    for (const std::string& entry : names) {
        const std::string file = JoinPath(path, entry);
        const auto text = ReadSmallFile(*folder, entry, file, kMaxKeyFileBytes);
        if (!text) return Failure{text.Why()};
        const auto key = ReadPublicKey(*text);
        if (!key) return Failure{file + " is not a public key (" + key.Why() + "): remove it"};
        const auto known =
            std::find_if(keys.begin(), keys.end(), [&](const TrustedKey& k) { return k.key.id == key->id; });
        // Two keys of one id cannot both be trusted: a signature names its key by the id alone.
        if (known != keys.end() && known->key.key != key->key)
            return Failure{file + " and " + known->file + " hold two different keys of the one id " +
                           key->IdText() + ": one of them is forged; remove it"};
        if (known == keys.end()) keys.push_back({*key, file});
    }
    return {};
}

// The installation's own trust folder (at `path`), made when `create`; checked as the record's
// folders are.
struct TrustFolder {
    Directory folder;
    std::string path;
};
Result<TrustFolder> OpenInstallationTrust(const Environment& env, bool create) {
    auto record = history::OpenRecordFolder(env, create);
    if (!record) return Failure{record.Why()};
    auto folder = history::PrivateFolder(record->own, record->ownPath, "trusted", create);
    if (!folder) return Failure{folder.Why()};
    return TrustFolder{std::move(*folder), JoinPath(record->ownPath, "trusted")};
}

// The installation's own trusted keys, added to `keys`: its trust folder, and the way to it
// checked too (a folder on the way that others could swap would do), reached through the
// installation folder held since start-up.
Outcome ReadInstallationTrust(const Environment& env, std::vector<TrustedKey>& keys) {
    const std::string installation = InstallationDir(env);
    const auto held = HeldFolder(env, installation);
    if (!held) return {};
    const Directory& folder = **held;
    struct stat info {};
    const std::string own = JoinPath(installation, ".zrxlibug");
    const bool hasOwn = folder.Look(".zrxlibug", info);
    struct stat identity {};
    if (!hasOwn && !folder.Look(".zrxlibug.id", identity)) return {};
    // Nobody else may rename the folder away (taking its keys with it) or put another in its
    // place; and one that went missing is not taken for one that trusts nothing.
    if (const Outcome holding = history::CheckHoldingFolder(folder, installation); !holding) return holding;
    if (!hasOwn) return history::OpenOwnFolder(folder, installation, false).AsOutcome();
    if (!S_ISDIR(info.st_mode))
        return Failure{own + (S_ISLNK(info.st_mode)
                                  ? " is a symbolic link; the program keeps its own files only in a "
                                    "real folder: remove it"
                                  : " is not a folder")};
    if (const Outcome trusted = MayDecideTrust(info, own); !trusted) return trusted;
    // The folder the installation's lock was taken on, while this program holds it.
    const auto locked = env.folders->Held(own);
    auto opened = locked ? Result<Directory>(locked->Duplicate()) : folder.Beneath(".zrxlibug");
    struct stat now {};
    if (!opened || !opened->Info(now) || (!locked && now.st_ino != info.st_ino))
        return Failure{own + " changed while it was opened"};
    return ReadTrustFolder(*opened, own, "trusted", keys);
}

}  // namespace

std::string SystemTrustFolder() {
    const char* folder = std::getenv("ZRXLIBUG_TRUSTED_D");
    return folder != nullptr && *folder != '\0' ? folder : "/etc/zrxlibug/trusted.d";
}

std::string InstallationTrustFolder(const Environment& env) {
    return JoinPath(JoinPath(InstallationDir(env), ".zrxlibug"), "trusted");
}

Result<std::vector<TrustedKey>> TrustedKeys(const Environment* env) {
    std::vector<TrustedKey> keys;
    if (env != nullptr)
        if (const Outcome own = ReadInstallationTrust(*env, keys); !own) return Failure{own.Why()};
    const std::string system = SystemTrustFolder();
    const size_t cut = system.rfind('/');
    const std::string parentPath = cut == std::string::npos ? "." : system.substr(0, cut == 0 ? 1 : cut);
    const auto parent =  // file-access: the system's trust folder, named by its fixed path, read once
        Directory::Open(parentPath);
    if (parent)
        if (const Outcome read = ReadTrustFolder(*parent, parentPath,
                                                 system.substr(cut == std::string::npos ? 0 : cut + 1), keys);
            !read)
            return Failure{read.Why()};
    return keys;
}

Result<TrustedKey> TrustKey(const Environment& env, const std::string& publicKeyFile) {
    std::string text;
    // A regular file of a key's size, looked at before it is read: a device or a FIFO is no key.
    if (!ReadWholeFile(publicKeyFile, text, kMaxKeyFileBytes))  // file-access: the key file the user names
        return Failure{publicKeyFile + " cannot be read as a public key file (a regular file of at most " +
                       std::to_string(kMaxKeyFileBytes) + " bytes)"};
    const auto key = ReadPublicKey(text);
    if (!key) return Failure{publicKeyFile + " is not a minisign public key: " + key.Why()};
    // A second key of a known id is a forgery or a mistake either way: upgrades of the one are
    // told from those of the other by the id alone, so it is never trusted beside it.
    {
        const auto keys = TrustedKeys(&env);
        if (!keys) return Failure{"the installation's trusted keys cannot be used: " + keys.Why()};
        for (const TrustedKey& known : *keys) {
            if (known.key.id != key->id) continue;
            if (known.key.key == key->key) return known;  // trusted already
            return Failure{
                publicKeyFile + " has the id " + key->IdText() + " of the trusted key " + known.file +
                ", but is another key; it is not trusted (remove the other first, if it is the one to go)"};
        }
    }
    const auto trust = OpenInstallationTrust(env, true);
    if (!trust) return Failure{trust.Why()};
    const std::string name = key->IdText() + ".pub";
    const std::string written = JoinPath(trust->path, name);
    if (const Outcome replaced = trust->folder.ReplaceWhole(name, PublicKeyFile(*key), 0644, written);
        !replaced)
        return Failure{replaced.Why()};
    // Trusted only once the installation's keys, read as every load reads them, hold it.
    const auto keys = TrustedKeys(&env);
    if (!keys)
        return Failure{"the key was written, but the installation's trusted keys cannot be used: " +
                       keys.Why()};
    const auto held =
        std::find_if(keys->begin(), keys->end(), [&](const TrustedKey& k) { return k.key.id == key->id; });
    if (held == keys->end()) return Failure{written + " was written, but is not read back as a trusted key"};
    return *held;
}

Outcome UntrustKey(const Environment& env, const std::string& keyId) {
    const auto keys = TrustedKeys(&env);
    if (!keys) return Failure{keys.Why()};
    // Read as a number, so that an id printed without its leading zeros finds its key too.
    const auto id = KeyIdFromText(keyId);
    if (!id) return Failure{"\"" + keyId + "\" is not a key id (up to 16 hex digits)"};
    const auto it =
        std::find_if(keys->begin(), keys->end(), [&](const TrustedKey& k) { return k.key.id == *id; });
    if (it == keys->end()) return Failure{"no key this installation trusts has the id " + keyId};
    const auto trust = OpenInstallationTrust(env, false);
    const std::string name = FileNameOf(it->file);
    if (!trust || JoinPath(trust->path, name) != it->file)
        return Failure{"the key " + KeyIdText(*id) + " is trusted by every installation of this machine (" +
                       it->file + "); only its administrator can take it away"};
    if (::unlinkat(trust->folder.Fd(), name.c_str(), 0) != 0)
        return Failure{it->file + " cannot be removed: " + std::strerror(errno)};
    trust->folder.Sync();
    // The same key may be trusted under a second file name too.
    if (const auto left = TrustedKeys(&env))
        for (const TrustedKey& k : *left)
            if (k.key.id == *id) return UntrustKey(env, keyId);
    return {};
}

}  // namespace zrx::trust
