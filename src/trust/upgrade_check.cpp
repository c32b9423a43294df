#include "trust/upgrade_check.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "base/directory.h"
#include "base/paths.h"
#include "base/text_file.h"
#include "base/text_utils.h"
#include "trust/manifest.h"
#include "upgrade_list/list_format.h"
#include "upgrade_list/list_reader.h"

namespace zrx::trust {

namespace {

constexpr size_t kMaxSignatureBytes = 64 * 1024;

// A small file of the folder read whole, never through a link and never a FIFO or device (whose
// read could wait forever): nothing when it is not there, a failure when it is there but cannot be
// taken.
Result<std::optional<std::string>> ReadSmall(const Directory& folder, const std::string& name, size_t limit) {
    bool missing = false;
    auto text = folder.ReadWhole(name, limit, &missing);
    if (text) return std::optional<std::string>(std::move(*text));
    if (missing) return std::optional<std::string>();
    return Failure{text.Why()};
}

class Checker {
public:
    Checker(const Directory& folder, const std::map<std::string, std::string>& digests, const Directory* copy)
        : m_folder(folder), m_digests(digests), m_copy(copy) {}

    // Digests the file the list names `name` (found as the run finds it), copied along where asked
    // unless `inPlace`: then its digest is noted instead, once it matches.
    void File(std::string_view name, bool inPlace = false) {
        if (TrimmedBlanks(name).empty()) return;
        const std::string leaf = m_folder.Spelling(name);
        if (!m_done.insert(leaf).second) return;
        const auto expected = m_digests.find(leaf);
        bool missing = false;
        struct stat info {};
        const auto file = m_folder.OpenRegular(leaf, &info, &missing);
        if (!file) {
            // A file the list uses is in the manifest and there, or the upgrade is not as it was made.
            if (missing && expected == m_digests.end())
                return Problem(
                    leaf, "is missing, and the manifest " + std::string(kManifestName) + " does not name it");
            const std::string& why = file.Why();
            return Problem(leaf, missing ? "is missing" : why.substr(std::min(why.size(), leaf.size() + 1)));
        }
        const int in = file->Fd();
        if (expected == m_digests.end())
            return Problem(leaf, "is not in the manifest " + std::string(kManifestName));
        int out = -1;
        if (m_copy != nullptr && !inPlace) {
            out = ::openat(m_copy->Fd(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (out < 0) {
                ::close(in);
                return CopyFailure(leaf, std::strerror(errno));
            }
        }
        std::string readError, writeError;
        int64_t size = 0;
        const std::optional<std::string> digest = Digest(in, out, readError, writeError, size);
        if (out >= 0) {
            const struct timespec times[2] = {info.st_atim, info.st_mtim};
            if ((::fchmod(out, info.st_mode & 0777) != 0 || ::futimens(out, times) != 0) &&
                writeError.empty())
                writeError = std::strerror(errno);
            if (::close(out) != 0 && writeError.empty()) writeError = std::strerror(errno);
        }
        if (!readError.empty() || (!digest && writeError.empty()))
            return Problem(leaf, "cannot be read: " + readError);
        if (!writeError.empty()) return CopyFailure(leaf, writeError);
        if (*digest != expected->second) return Problem(leaf, "differs from its digest in the manifest");
        if (inPlace) m_inPlace.emplace(leaf, CheckedFile{*digest, size});
    }

    std::vector<std::string> Take() { return std::move(m_problems); }
    CheckedFiles TakeInPlace() { return std::move(m_inPlace); }
    // The first file whose private copy could not be written, and why; "" when every copy was made.
    const std::string& FirstCopyFailure() const { return m_copyFailure; }

private:
    void Problem(const std::string& name, const std::string& what) {
        m_problems.push_back(Printable(name) + " " + what);
    }
    void CopyFailure(const std::string& name, const std::string& why) {
        if (m_copyFailure.empty())
            m_copyFailure = Printable(name) + " cannot be copied to be checked: " + why;
    }

    // The SHA-256 of what `in` reads, written to `out` as it is read when `out` is open, and the
    // number of bytes it read (`size`). A failed read sets readError, a failed write writeError.
    static std::optional<std::string> Digest(int in, int out, std::string& readError, std::string& writeError,
                                             int64_t& size) {
        const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
        // One buffer for every file: a new one per file was zeroed (and mapped) anew each time.
        static thread_local std::vector<char> buffer(1 << 16);
        for (;;) {
            const ssize_t got = ::read(in, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return readError = std::strerror(errno), std::nullopt;
            if (got == 0) break;
            EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(got));
            size += got;
            if (out >= 0 && !WriteAll(out, {buffer.data(), static_cast<size_t>(got)}))
                return writeError = std::strerror(errno), std::nullopt;
        }
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
        static const char kHex[] = "0123456789abcdef";
        std::string text;
        for (unsigned int i = 0; i < length; ++i) text += kHex[digest[i] >> 4], text += kHex[digest[i] & 15];
        return text;
    }

    const Directory& m_folder;
    const std::map<std::string, std::string>& m_digests;
    const Directory* m_copy;
    std::set<std::string> m_done;
    CheckedFiles m_inPlace;
    std::vector<std::string> m_problems;
    std::string m_copyFailure;
};

// The files a read list uses besides itself, as it names them: the upgrade libraries its elements
// come from (the first `*libraryCount`, where asked), and every data file.
std::vector<std::string> NamesTheListUses(const ListContents& contents, size_t* libraryCount = nullptr) {
    const LoadedList& list = contents.list;
    std::set<size_t> libraries;
    if (list.Count(kPartRecord) != 0) libraries.insert(0);
    if (list.Count(kPackageRecord) != 0) libraries.insert(3);
    if (list.Count(kSparamRecord) != 0) libraries.insert(4);
    if (list.Count(kMparamRecord) != 0) libraries.insert(5);
    for (size_t i = 0; i < list.Count(kSymbolRecord); ++i)
        libraries.insert(EqualsIgnoreCase(list.At(kSymbolRecord, i).UpgSymbolLib, "I_UPG.SYMBOL") ? 2 : 1);
    std::vector<std::string> names;
    for (const size_t i : libraries) names.push_back(FileNameOf(contents.libraries[i]));
    if (libraryCount) *libraryCount = names.size();
    for (size_t i = 0; i < list.Count(kDataFileRecord); ++i) names.emplace_back(list.At(kDataFileRecord, i).Name);
    return names;
}

}  // namespace

std::string_view StateWord(UpgradeState state) {
    switch (state) {
        case UpgradeState::Signed: return "signed";
        case UpgradeState::Intact: return "intact";
        case UpgradeState::Unverified: return "unverified";
        case UpgradeState::Tampered: return "tampered";
    }
    return "unverified";
}

std::string UpgradeCheck::Describe() const {
    switch (state) {
        case UpgradeState::Signed:
            return "signed by key " + keyId + (trustedComment.empty() ? "" : " (" + Printable(trustedComment) + ")");
        case UpgradeState::Intact:
            return keyId.empty() ? "intact: every file matches its digest; not signed"
                                 : "intact: every file matches its digest; signature by key " + keyId +
                                       ", not trusted (not checked)";
        case UpgradeState::Unverified:
            return std::string("unverified: the upgrade carries no ") + std::string(kManifestName);
        case UpgradeState::Tampered: {
            std::string text = "tampered:";
            for (const std::string& problem : problems) text += " " + problem + ";";
            text.pop_back();
            return text;
        }
    }
    return {};
}

UpgradeCheck CheckUpgrade(const std::string& folderPath, const std::vector<TrustedKey>& trusted,
                          const std::string& copyInto) {
    const auto folder = Directory::Open(folderPath);  // file-access: the folder a caller names, opened once
    if (!folder) {
        UpgradeCheck check;
        check.checked = true;
        return check;  // nothing to check; the load says what is wrong
    }
    Directory copy;
    return CheckUpgrade(
        *folder, folderPath, trusted,
        copyInto.empty() ? CopyFolder() : [&copy, &copyInto]() -> Result<const Directory*> {
            auto opened = Directory::Open(copyInto);  // file-access: a caller's private folder
            if (!opened) return Failure{opened.Why()};
            copy = std::move(*opened);
            return &copy;
        });
}

UpgradeCheck CheckUpgrade(const Directory& folder, const std::string& folderPath,
                          const std::vector<TrustedKey>& trusted, const CopyFolder& makeCopy,
                          CopyScope scope) {
    UpgradeCheck check;
    check.checked = true;
    auto tampered = [&check](std::string problem) {
        check.state = UpgradeState::Tampered;
        check.problems.push_back(std::move(problem));
        return check;
    };
    // One open decides: a manifest that is there is the one that is read, and from then on the
    // program reads only the checked copy.
    const std::string manifestName = folder.Spelling(kManifestName);
    const auto manifestRead = ReadSmall(folder, manifestName, kMaxManifestBytes);
    if (!manifestRead) return tampered(manifestRead.Why());
    if (!*manifestRead) return check;
    const std::string& manifest = **manifestRead;
    const auto digests = ReadManifest(manifest);
    if (!digests) return tampered(std::string(kManifestName) + " is not a manifest: " + digests.Why());

    // The signature: by a trusted key it must verify; by another key it says nothing.
    bool signedByTrusted = false;
    const std::string signatureName = folder.Spelling(kSignatureName);
    const auto signatureText = ReadSmall(folder, signatureName, kMaxSignatureBytes);
    if (!signatureText) return tampered(signatureText.Why());
    if (*signatureText) {
        const auto signature = ReadSignature(**signatureText);
        if (!signature)
            return tampered(std::string(kSignatureName) + " is not a signature: " + signature.Why());
        check.keyId = signature->KeyIdText();
        const auto key = std::find_if(trusted.begin(), trusted.end(),
                                      [&](const TrustedKey& k) { return k.key.id == signature->keyId; });
        if (key != trusted.end()) {
            if (const Verification verified = Verify(key->key, *signature, manifest);
                verified.verdict != Verdict::Valid)
                return tampered("the signature by trusted key " + check.keyId + " does not verify (" +
                                verified.why + ")");
            signedByTrusted = true;
            check.trustedComment = signature->trustedComment;
        }
    }

    // The files the list uses, the list first; read from the copy once it is made.
    const Directory* copy = nullptr;
    if (makeCopy) {
        const auto made = makeCopy();
        if (!made) {
            check.copyFailure = "no private copy can be made to check it: " + made.Why();
            return check;
        }
        copy = *made;
    }
    Checker checker(folder, *digests, copy);
    checker.File(kListFileName);
    ListContents contents;
    const ListReadFailure read = copy != nullptr ? ReadListFile(*copy, folderPath, contents)
                                                 : ReadListFile(folder, folderPath, contents);
    if (read.kind == ListReadFailure::Kind::None || contents.headerRead) {
        size_t libraries = 0;
        const std::vector<std::string> names = NamesTheListUses(contents, &libraries);
        // Data files go by the thousand: copying each into a new file of its own was most of a
        // load's time, while whoever reads one can check its bytes as it reads them.
        const bool inPlace = copy != nullptr && scope == CopyScope::ListAndLibraries;
        for (size_t i = 0; i < names.size(); ++i) checker.File(names[i], inPlace && i >= libraries);
    }
    check.problems = checker.Take();
    check.inPlace = checker.TakeInPlace();
    check.copyFailure = checker.FirstCopyFailure();
    check.manifestRead = true;
    check.state = !check.problems.empty() ? UpgradeState::Tampered
                  : signedByTrusted       ? UpgradeState::Signed
                                          : UpgradeState::Intact;
    return check;
}

bool WantsTrustedSignature(const std::vector<TrustedKey>& trusted, const UpgradeCheck& check) {
    return !trusted.empty() && check.state != UpgradeState::Signed && check.state != UpgradeState::Tampered;
}

std::vector<std::string> FilesTheListUses(const Directory& folder, const std::string& folderPath) {
    ListContents contents;
    if (ReadListFile(folder, folderPath, contents).kind != ListReadFailure::Kind::None) return {};
    std::vector<std::string> names{std::string(kListFileName)};
    for (const std::string& name : NamesTheListUses(contents)) names.push_back(name);
    std::vector<std::string> files;
    std::set<std::string> seen;
    for (const std::string& name : names) {
        if (TrimmedBlanks(name).empty()) continue;
        const std::string spelt = folder.Spelling(name);
        struct stat info {};
        if (folder.Look(spelt, info) && S_ISREG(info.st_mode) && seen.insert(spelt).second)
            files.push_back(spelt);
    }
    return files;
}

Result<std::string> WriteManifest(const Directory& folder, const std::string& folderPath) {
    const std::vector<std::string> files = FilesTheListUses(folder, folderPath);
    if (files.empty()) return Failure{"its upgrade list cannot be read"};
    std::vector<ManifestEntry> entries;
    for (const std::string& name : files) {
        const auto file = folder.OpenRegular(name);
        std::string digest = file ? Sha256OfDescriptor(file->Fd()) : std::string();
        if (digest.empty()) return Failure{JoinPath(folderPath, name) + " cannot be read"};
        entries.push_back({name, std::move(digest)});
    }
    std::string text = ManifestText(std::move(entries));
    if (const Outcome written =
            folder.ReplaceWhole(std::string(kManifestName), text, 0644, JoinPath(folderPath, kManifestName));
        !written)
        return Failure{written.Why()};
    return text;
}

Outcome SignManifest(const Directory& folder, const std::string& folderPath, const std::string& manifest,
                     const SecretKey& key, const std::string& trustedComment) {
    const auto signature = Sign(key, manifest, "signature from zrxlibug secret key", trustedComment);
    if (!signature) return Failure{signature.Why()};
    return folder.ReplaceWhole(std::string(kSignatureName), *signature, 0644,
                               JoinPath(folderPath, kSignatureName));
}

}  // namespace zrx::trust
