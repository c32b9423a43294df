#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/outcome.h"

// Keys and signatures in minisign's files, so that an upgrade signed here verifies with the
// `minisign` tool and one signed with the tool verifies here. The readers take files from anywhere:
// every size is bounded, every field checked, and a failure is a value with a reason, never a crash.
namespace zrx::trust {

using KeyId = std::array<uint8_t, 8>;

// A key id as minisign prints it: the eight bytes read as a little-endian number, in 16 upper-case
// hex digits (older minisign leaves out leading zeros).
std::string KeyIdText(const KeyId& id);
// The key id a text names: 1 to 16 hex digits of either case, as KeyIdText or any minisign prints it.
std::optional<KeyId> KeyIdFromText(std::string_view text);

struct PublicKey {
    KeyId id{};
    std::array<uint8_t, 32> key{};  // Ed25519
    std::string IdText() const { return KeyIdText(id); }
    bool operator==(const PublicKey&) const = default;
};

// A public key file (two lines: comment, key) or its key line alone; a failure says why it is not
// one.
Result<PublicKey> ReadPublicKey(std::string_view text);
// The public key file for a key, its comment naming the key id.
std::string PublicKeyFile(const PublicKey& key);

// The work scrypt does to turn a password into the key that encrypts a secret key. The defaults
// are what minisign writes; they cost about a gigabyte of memory and seconds of time, so a reader
// takes them as the most it accepts from a file, and tests pass smaller ones.
struct KdfLimits {
    uint64_t ops = 33554432;
    uint64_t mem = 1073741824;
};

// A secret key, decrypted: its id and the Ed25519 secret (seed and public half, 64 bytes). The
// bytes are wiped when the object ends or is moved from; it cannot be copied.
class SecretKey {
public:
    ~SecretKey();
    SecretKey(SecretKey&& other) noexcept;
    SecretKey& operator=(SecretKey&& other) noexcept;
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;

    const KeyId& Id() const { return m_id; }
    // The public key that verifies what this key signs.
    PublicKey Public() const;

private:
    SecretKey(const KeyId& id, const uint8_t* secret);
    void Wipe();

    KeyId m_id{};
    std::array<uint8_t, 64> m_secret{};

    friend Result<SecretKey> ReadSecretKey(std::string_view text, std::string_view password, KdfLimits most);
    friend Result<std::string> Sign(const SecretKey& key, std::string_view message,
                                    std::string_view untrustedComment, std::string_view trustedComment);
};

// Whether a secret key file is protected by a password (false as well when it is no key file;
// ReadSecretKey says what is wrong with it).
bool SecretKeyIsEncrypted(std::string_view text);
// The secret key of a secret key file, decrypted with `password` when it is protected (the password
// is not used otherwise). A key whose password protection asks for more than `most` is refused
// without trying it. A failure when it is no key file, or the password is wrong or the key damaged
// (its checksum tells).
// Slow when the key is protected: scrypt with the key's limits (minisign's: seconds, a gigabyte).
Result<SecretKey> ReadSecretKey(std::string_view text, std::string_view password, KdfLimits most = {});

struct NewKey {
    std::string publicFile, secretFile;
    PublicKey publicKey;
};
// A new key pair as files minisign reads. With a password the secret key is encrypted with scrypt
// at `limits` (slow at the defaults, like ReadSecretKey); without one it is stored in the clear, as
// `minisign -G -W` stores it. A failure when the limits are above the defaults (no reader here
// would take the key) or scrypt cannot get its memory.
Result<NewKey> GenerateKey(const std::optional<std::string>& password, KdfLimits limits = {});

// The longest comments the minisign tool reads (in bytes, without the line's prefix).
inline constexpr size_t kMaxUntrustedComment = 1003;
inline constexpr size_t kMaxTrustedComment = 8173;

// The signature file (".minisig") for a message: its BLAKE2b-512 hash signed, and the trusted
// comment signed with the signature. A failure when a comment holds a line break or a NUL, or is
// longer than minisign takes.
Result<std::string> Sign(const SecretKey& key, std::string_view message, std::string_view untrustedComment,
                         std::string_view trustedComment);

struct Signature {
    KeyId keyId{};
    bool prehashed = true;  // false: the older form, the message itself signed rather than its hash
    std::array<uint8_t, 64> signature{};
    std::string trustedComment;
    std::array<uint8_t, 64> globalSignature{};  // over the signature and the trusted comment
    std::string KeyIdText() const { return trust::KeyIdText(keyId); }
};

// A signature file; a failure says why it is not one.
Result<Signature> ReadSignature(std::string_view text);

enum class Verdict {
    Valid,     // the message and the trusted comment are what the key's owner signed
    OtherKey,  // made by another key (by its id); why names both ids
    Invalid,   // the message, the trusted comment or the signature was changed
};
// What a check of a signature found, and why where it is not valid.
struct Verification {
    Verdict verdict;
    std::string why;
};
Verification Verify(const PublicKey& key, const Signature& signature, std::string_view message);

}  // namespace zrx::trust
