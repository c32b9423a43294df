#include "trust/minisign.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace zrx::trust {

namespace {

// The layout of the files' binary lines, in bytes.
constexpr size_t kAlgSize = 2, kIdSize = 8, kPublicSize = 32, kSecretSize = 64, kSignatureSize = 64;
constexpr size_t kSaltSize = 32, kLimitSize = 8, kChecksumSize = 32, kHashSize = 64;
constexpr size_t kPublicLineSize = kAlgSize + kIdSize + kPublicSize;
constexpr size_t kSignatureLineSize = kAlgSize + kIdSize + kSignatureSize;
// Secret key: signature, kdf and checksum algorithms, kdf salt and limits, then the part the
// password encrypts (key id, secret key, checksum).
constexpr size_t kSaltAt = 3 * kAlgSize, kOpsAt = kSaltAt + kSaltSize, kMemAt = kOpsAt + kLimitSize;
constexpr size_t kSealedAt = kMemAt + kLimitSize;
constexpr size_t kSealedSize = kIdSize + kSecretSize + kChecksumSize;
constexpr size_t kSecretLineSize = kSealedAt + kSealedSize;

constexpr char kEd[] = "Ed";      // Ed25519, the message itself signed
constexpr char kEdHash[] = "ED";  // Ed25519 over the message's BLAKE2b-512
constexpr char kScrypt[] = "Sc";
constexpr char kBlake2[] = "B2";
constexpr uint8_t kNoKdf[kAlgSize] = {0, 0};

constexpr std::string_view kHexDigits = "0123456789ABCDEF";
constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

// Nothing read here is longer than the longest signature file minisign reads, with room to spare;
// a bigger input is refused before it is looked at.
constexpr size_t kMaxFileSize = 16384;

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool Same(const uint8_t* bytes, const char* alg) { return std::memcmp(bytes, alg, kAlgSize) == 0; }

uint64_t ReadLittleEndian(const uint8_t* bytes) {
    uint64_t value = 0;
    for (size_t i = kLimitSize; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

void WriteLittleEndian(uint64_t value, uint8_t* bytes) {
    for (size_t i = 0; i < kLimitSize; ++i, value >>= 8) bytes[i] = static_cast<uint8_t>(value);
}

// Zeroes a buffer that held secret bytes when it goes.
template <size_t N>
struct WipedBytes {
    std::array<uint8_t, N> bytes{};
    WipedBytes() = default;
    WipedBytes(const WipedBytes&) = delete;
    WipedBytes& operator=(const WipedBytes&) = delete;
    ~WipedBytes() { sodium_memzero(bytes.data(), bytes.size()); }
    uint8_t* data() { return bytes.data(); }
};

std::string Base64(const uint8_t* bytes, size_t size) {
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
    text.pop_back();  // the terminating NUL
    return text;
}

// Decodes a base64 line that must hold exactly `size` bytes, in the one way they are written (padded,
// no blanks, no stray bits), so that no two lines read as the same bytes.
bool DecodeBase64(std::string_view line, uint8_t* out, size_t size) {
    if (line.size() != sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL) - 1) return false;
    // libsodium's decoder takes some bytes above 127 for letters of the alphabet; only the alphabet
    // itself may pass.
    constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
    if (line.find_first_not_of(kAlphabet) != std::string_view::npos) return false;
    size_t decoded = 0;
    const char* end = nullptr;
    return sodium_base642bin(out, size, line.data(), line.size(), nullptr, &decoded, &end,
                             sodium_base64_VARIANT_ORIGINAL) == 0 &&
           decoded == size && end == line.data() + line.size();
}

// The lines of a file, each ending in LF or CR LF, the last one possibly in neither. A CR anywhere
// else is refused: it would show a line break that the reader does not see.
Result<std::vector<std::string_view>> SplitLines(std::string_view text) {
    if (text.size() > kMaxFileSize)
        return Failure{"the file is too big (" + std::to_string(text.size()) + " bytes) to be one"};
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos)
            return Failure{"line " + std::to_string(lines.size() + 1) + " holds a carriage return"};
        lines.push_back(line);
    }
    return lines;
}

// Whether a file has the number of lines its kind has.
Outcome LineCount(const std::vector<std::string_view>& lines, size_t count) {
    if (lines.size() == count) return {};
    if (lines.empty()) return Failure{"the file is empty"};
    return Failure{"the file has " + std::to_string(lines.size()) + (lines.size() == 1 ? " line" : " lines") +
                   " instead of " + std::to_string(count)};
}

// The text after a comment line's prefix; a failure when the line is not such a comment.
Result<std::string_view> CommentOf(std::string_view line, size_t number, std::string_view prefix,
                                   size_t most) {
    const std::string where = "line " + std::to_string(number);
    if (line.substr(0, prefix.size()) != prefix)
        return Failure{where + " does not begin with \"" + std::string(prefix) + "\""};
    const std::string_view comment = line.substr(prefix.size());
    if (comment.size() > most)
        return Failure{where + " holds a comment longer than " + std::to_string(most) + " bytes"};
    if (comment.find('\0') != std::string_view::npos) return Failure{where + " holds a NUL byte"};
    return comment;
}

// The lines of a key or signature file of `count` lines whose comment lines (`comments`: line
// index and prefix) are comments of at most `most` bytes each.
Result<std::vector<std::string_view>> ReadLines(
    std::string_view text, size_t count, std::initializer_list<std::pair<size_t, std::string_view>> comments,
    std::initializer_list<size_t> most) {
    auto lines = SplitLines(text);
    if (!lines) return lines;
    if (const Outcome counted = LineCount(*lines, count); !counted) return Failure{counted.Why()};
    auto limit = most.begin();
    for (const auto& [index, prefix] : comments)
        if (const auto comment = CommentOf((*lines)[index], index + 1, prefix, *limit++); !comment)
            return Failure{comment.Why()};
    return lines;
}

// Why a comment cannot go into a file, or "" when it can.
std::string CommentProblem(std::string_view comment, size_t most, const char* what) {
    if (comment.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        return std::string("the ") + what + " comment holds a line break or a NUL";
    if (comment.size() > most)
        return std::string("the ") + what + " comment is longer than " + std::to_string(most) + " bytes";
    return "";
}

std::string KeyFileText(std::string_view comment, const uint8_t* bytes, size_t size) {
    return std::string(kUntrustedPrefix) + std::string(comment) + "\n" + Base64(bytes, size) + "\n";
}

// The checksum that tells a wrong password or a damaged key: BLAKE2b-256 of the signature
// algorithm, the key id and the secret key.
void Checksum(const uint8_t* id, const uint8_t* secret, uint8_t* checksum) {
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kChecksumSize);
    crypto_generichash_update(&state, reinterpret_cast<const uint8_t*>(kEd), kAlgSize);
    crypto_generichash_update(&state, id, kIdSize);
    crypto_generichash_update(&state, secret, kSecretSize);
    crypto_generichash_final(&state, checksum, kChecksumSize);
    sodium_memzero(&state, sizeof state);
}

// The key stream scrypt makes of a password, XORed over the encrypted part of a secret key (which
// both encrypts and decrypts it).
Outcome XorPasswordStream(std::string_view password, const uint8_t* salt, uint64_t ops, uint64_t mem,
                          uint8_t* sealed) {
    if (mem > SIZE_MAX) return Failure{"the key asks for more memory than this computer can address"};
    WipedBytes<kSealedSize> stream;
    if (crypto_pwhash_scryptsalsa208sha256(stream.data(), kSealedSize, password.data(), password.size(), salt,
                                           ops, static_cast<size_t>(mem)) != 0)
        return Failure{"could not derive a key from the password (out of memory?)"};
    for (size_t i = 0; i < kSealedSize; ++i) sealed[i] ^= stream.bytes[i];
    return {};
}

bool WithinLimits(uint64_t ops, uint64_t mem, const KdfLimits& most) { return ops <= most.ops && mem <= most.mem; }

}  // namespace

std::string KeyIdText(const KeyId& id) {
    std::string text;
    for (size_t i = id.size(); i-- > 0;) {
        text += kHexDigits[id[i] >> 4];
        text += kHexDigits[id[i] & 0xF];
    }
    return text;
}

std::optional<KeyId> KeyIdFromText(std::string_view text) {
    if (text.empty() || text.size() > 2 * kIdSize) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        const size_t digit = kHexDigits.find(c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c);
        if (digit == std::string_view::npos) return std::nullopt;
        value = value << 4 | digit;
    }
    KeyId id{};
    WriteLittleEndian(value, id.data());
    return id;
}

Result<PublicKey> ReadPublicKey(std::string_view text) {
    auto split = SplitLines(text);
    if (!split) return Failure{split.Why()};
    // The whole file, or the key line alone as minisign prints it for its command line.
    if (split->size() != 1) split = ReadLines(text, 2, {{0, kUntrustedPrefix}}, {kMaxUntrustedComment});
    if (!split) return Failure{split.Why()};
    const std::vector<std::string_view>& lines = *split;
    std::array<uint8_t, kPublicLineSize> bytes{};
    if (!DecodeBase64(lines.back(), bytes.data(), bytes.size()))
        return Failure{"line " + std::to_string(lines.size()) + " is not a public key in base64"};
    if (!Same(bytes.data(), kEd)) return Failure{"the key is not an Ed25519 key"};
    PublicKey key;
    std::copy_n(bytes.begin() + kAlgSize, kIdSize, key.id.begin());
    std::copy_n(bytes.begin() + kAlgSize + kIdSize, kPublicSize, key.key.begin());
    return key;
}

std::string PublicKeyFile(const PublicKey& key) {
    std::array<uint8_t, kPublicLineSize> bytes{};
    std::memcpy(bytes.data(), kEd, kAlgSize);
    std::copy(key.id.begin(), key.id.end(), bytes.begin() + kAlgSize);
    std::copy(key.key.begin(), key.key.end(), bytes.begin() + kAlgSize + kIdSize);
    return KeyFileText("minisign public key " + key.IdText(), bytes.data(), bytes.size());
}

SecretKey::SecretKey(const KeyId& id, const uint8_t* secret) : m_id(id) {
    std::copy_n(secret, kSecretSize, m_secret.begin());
}

SecretKey::~SecretKey() { Wipe(); }

SecretKey::SecretKey(SecretKey&& other) noexcept : m_id(other.m_id), m_secret(other.m_secret) { other.Wipe(); }

SecretKey& SecretKey::operator=(SecretKey&& other) noexcept {
    if (this != &other) {
        m_id = other.m_id;
        m_secret = other.m_secret;
        other.Wipe();
    }
    return *this;
}

void SecretKey::Wipe() {
    sodium_memzero(m_secret.data(), m_secret.size());
    sodium_memzero(m_id.data(), m_id.size());
}

PublicKey SecretKey::Public() const {
    PublicKey key;
    key.id = m_id;
    std::copy_n(m_secret.begin() + kSecretSize - kPublicSize, kPublicSize, key.key.begin());
    return key;
}

namespace {

// The binary line of a secret key file, checked as far as it can be without the password.
Outcome ReadSecretLine(std::string_view text, uint8_t* bytes) {
    const auto lines = ReadLines(text, 2, {{0, kUntrustedPrefix}}, {kMaxUntrustedComment});
    if (!lines) return Failure{lines.Why()};
    if (!DecodeBase64((*lines)[1], bytes, kSecretLineSize))
        return Failure{"line 2 is not a secret key in base64"};
    if (!Same(bytes, kEd) || !Same(bytes + 2 * kAlgSize, kBlake2) ||
        (!Same(bytes + kAlgSize, kScrypt) && std::memcmp(bytes + kAlgSize, kNoKdf, kAlgSize) != 0))
        return Failure{"the key is not a secret key of a kind this program knows (Ed25519, scrypt, BLAKE2b)"};
    return {};
}

}  // namespace

bool SecretKeyIsEncrypted(std::string_view text) {
    WipedBytes<kSecretLineSize> line;
    return ReadSecretLine(text, line.data()) && Same(line.data() + kAlgSize, kScrypt);
}

Result<SecretKey> ReadSecretKey(std::string_view text, std::string_view password, KdfLimits most) {
    if (!SodiumReady()) return Failure{"the cryptography library could not be started"};
    WipedBytes<kSecretLineSize> line;
    uint8_t* const bytes = line.data();
    if (const Outcome read = ReadSecretLine(text, bytes); !read) return Failure{read.Why()};
    uint8_t* const sealed = bytes + kSealedAt;
    const uint8_t* const id = sealed;
    const uint8_t* const secret = sealed + kIdSize;
    const uint8_t* const checksum = secret + kSecretSize;

    const bool encrypted = Same(bytes + kAlgSize, kScrypt);
    if (encrypted) {
        const uint64_t ops = ReadLittleEndian(bytes + kOpsAt), mem = ReadLittleEndian(bytes + kMemAt);
        if (!WithinLimits(ops, mem, most))
            return Failure{
                "the key's password protection asks for more work than this program does (scrypt limits " +
                std::to_string(ops) + " and " + std::to_string(mem) + ")"};
        if (const Outcome opened = XorPasswordStream(password, bytes + kSaltAt, ops, mem, sealed); !opened)
            return Failure{opened.Why()};
    }
    WipedBytes<kChecksumSize> expected;
    Checksum(id, secret, expected.data());
    const bool checksumOk = sodium_memcmp(checksum, expected.data(), kChecksumSize) == 0;
    // A key stored without a password by `minisign -G -W` carries a checksum of zeros; its public
    // half, checked below, is what tells such a key damaged.
    const bool unchecked = !encrypted && sodium_is_zero(checksum, kChecksumSize);
    if (!checksumOk && !unchecked)
        return Failure{encrypted ? "wrong password or damaged key"
                                 : "the key is damaged (its checksum does not match)"};
    // The secret key's second half must be the public key its first half makes.
    std::array<uint8_t, kPublicSize> madePublic{};
    WipedBytes<kSecretSize> made;
    crypto_sign_seed_keypair(madePublic.data(), made.data(), secret);
    if (sodium_memcmp(madePublic.data(), secret + kSecretSize - kPublicSize, kPublicSize) != 0)
        return Failure{"the key is damaged (its public half does not match its secret)"};
    KeyId keyId{};
    std::copy_n(id, kIdSize, keyId.begin());
    return SecretKey(keyId, secret);
}

Result<NewKey> GenerateKey(const std::optional<std::string>& password, KdfLimits limits) {
    if (!SodiumReady()) return Failure{"the cryptography library could not be started"};
    if (password && !WithinLimits(limits.ops, limits.mem, KdfLimits{}))
        return Failure{"scrypt limits above minisign's would make a key that no reader takes"};
    WipedBytes<kSecretLineSize> line;
    uint8_t* const bytes = line.data();
    uint8_t* const sealed = bytes + kSealedAt;
    uint8_t* const id = sealed;
    uint8_t* const secret = sealed + kIdSize;
    NewKey key;
    crypto_sign_keypair(key.publicKey.key.data(), secret);
    randombytes_buf(id, kIdSize);
    std::copy_n(id, kIdSize, key.publicKey.id.begin());
    Checksum(id, secret, secret + kSecretSize);

    std::memcpy(bytes, kEd, kAlgSize);
    std::memcpy(bytes + 2 * kAlgSize, kBlake2, kAlgSize);
    // Without a password the kdf algorithm, salt and limits stay zero.
    if (password) {
        std::memcpy(bytes + kAlgSize, kScrypt, kAlgSize);
        randombytes_buf(bytes + kSaltAt, kSaltSize);
        WriteLittleEndian(limits.ops, bytes + kOpsAt);
        WriteLittleEndian(limits.mem, bytes + kMemAt);
        if (const Outcome sealedNow =
                XorPasswordStream(*password, bytes + kSaltAt, limits.ops, limits.mem, sealed);
            !sealedNow)
            return Failure{sealedNow.Why()};
    }
    key.publicFile = PublicKeyFile(key.publicKey);
    key.secretFile = KeyFileText(password ? "minisign encrypted secret key" : "minisign secret key", bytes,
                                 kSecretLineSize);
    return key;
}

Result<std::string> Sign(const SecretKey& key, std::string_view message, std::string_view untrustedComment,
                         std::string_view trustedComment) {
    if (!SodiumReady()) return Failure{"the cryptography library could not be started"};
    std::string why = CommentProblem(untrustedComment, kMaxUntrustedComment, "untrusted");
    if (why.empty()) why = CommentProblem(trustedComment, kMaxTrustedComment, "trusted");
    if (!why.empty()) return Failure{why};

    std::array<uint8_t, kHashSize> hash{};
    crypto_generichash(hash.data(), hash.size(), reinterpret_cast<const uint8_t*>(message.data()), message.size(),
                       nullptr, 0);
    std::array<uint8_t, kSignatureLineSize> signatureLine{};
    uint8_t* const signature = signatureLine.data() + kAlgSize + kIdSize;
    std::memcpy(signatureLine.data(), kEdHash, kAlgSize);
    std::copy(key.m_id.begin(), key.m_id.end(), signatureLine.begin() + kAlgSize);
    crypto_sign_detached(signature, nullptr, hash.data(), hash.size(), key.m_secret.data());

    // The global signature binds the trusted comment to this signature.
    std::vector<uint8_t> signedComment(signature, signature + kSignatureSize);
    signedComment.insert(signedComment.end(), trustedComment.begin(), trustedComment.end());
    std::array<uint8_t, kSignatureSize> global{};
    crypto_sign_detached(global.data(), nullptr, signedComment.data(), signedComment.size(), key.m_secret.data());

    return std::string(kUntrustedPrefix) + std::string(untrustedComment) + "\n" +
           Base64(signatureLine.data(), signatureLine.size()) + "\n" + std::string(kTrustedPrefix) +
           std::string(trustedComment) + "\n" + Base64(global.data(), global.size()) + "\n";
}

Result<Signature> ReadSignature(std::string_view text) {
    const auto read = ReadLines(text, 4, {{0, kUntrustedPrefix}, {2, kTrustedPrefix}},
                                {kMaxUntrustedComment, kMaxTrustedComment});
    if (!read) return Failure{read.Why()};
    const std::vector<std::string_view>& lines = *read;
    const std::string_view trusted = lines[2].substr(kTrustedPrefix.size());
    std::array<uint8_t, kSignatureLineSize> bytes{};
    if (!DecodeBase64(lines[1], bytes.data(), bytes.size()))
        return Failure{"line 2 is not a signature in base64"};
    Signature signature;
    if (Same(bytes.data(), kEdHash)) signature.prehashed = true;
    else if (Same(bytes.data(), kEd)) signature.prehashed = false;
    else
        return Failure{"the signature is not an Ed25519 signature"};
    if (!DecodeBase64(lines[3], signature.globalSignature.data(), signature.globalSignature.size()))
        return Failure{"line 4 is not a signature in base64"};
    std::copy_n(bytes.begin() + kAlgSize, kIdSize, signature.keyId.begin());
    std::copy_n(bytes.begin() + kAlgSize + kIdSize, kSignatureSize, signature.signature.begin());
    signature.trustedComment = trusted;
    return signature;
}

Verification Verify(const PublicKey& key, const Signature& signature, std::string_view message) {
    if (!SodiumReady()) return {Verdict::Invalid, "the cryptography library could not be started"};
    if (signature.keyId != key.id)
        return {Verdict::OtherKey,
                "signed with key " + signature.KeyIdText() + ", not with key " + key.IdText()};
    const auto* messageBytes = reinterpret_cast<const uint8_t*>(message.data());
    int status;
    if (signature.prehashed) {
        std::array<uint8_t, kHashSize> hash{};
        crypto_generichash(hash.data(), hash.size(), messageBytes, message.size(), nullptr, 0);
        status = crypto_sign_verify_detached(signature.signature.data(), hash.data(), hash.size(), key.key.data());
    } else {
        status = crypto_sign_verify_detached(signature.signature.data(), messageBytes, message.size(),
                                             key.key.data());
    }
    if (status != 0) return {Verdict::Invalid, "the signature does not match the file"};
    std::vector<uint8_t> signedComment(signature.signature.begin(), signature.signature.end());
    signedComment.insert(signedComment.end(), signature.trustedComment.begin(), signature.trustedComment.end());
    if (crypto_sign_verify_detached(signature.globalSignature.data(), signedComment.data(),
                                    signedComment.size(), key.key.data()) != 0)
        return {Verdict::Invalid, "the trusted comment does not match the signature"};
    return {Verdict::Valid, {}};
}

}  // namespace zrx::trust
