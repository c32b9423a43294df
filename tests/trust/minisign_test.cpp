// Keys and signatures in minisign's files: what is signed here verifies here and with the minisign
// tool, what the tool signs verifies here, keys made by either work in both, and a change to anything
// a signature covers is found. The tests with the tool are skipped when it is not installed.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/run_cli.h"
#include "trust/minisign.h"

namespace zrx::trust {
namespace {

using test::Quote;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

using namespace std::string_view_literals;

// The readers and the signer as the cases below look at them: the value or nothing, and the
// reason given (cleared when there is a value), for the cases that compare reasons.
template <typename T>
std::optional<T> Take(Result<T> result, std::string& why) {
    why = result.Why();
    if (!result) return std::nullopt;
    return std::optional<T>(std::move(*result));
}
std::optional<PublicKey> ReadPublicKey(std::string_view text, std::string& why) {
    return Take(trust::ReadPublicKey(text), why);
}
std::optional<SecretKey> ReadSecretKey(std::string_view text, std::string_view password, std::string& why,
                                       KdfLimits most = {}) {
    return Take(trust::ReadSecretKey(text, password, most), why);
}
std::optional<NewKey> GenerateKey(const std::optional<std::string>& password, std::string& why,
                                  KdfLimits limits) {
    return Take(trust::GenerateKey(password, limits), why);
}
std::optional<std::string> Sign(const SecretKey& key, std::string_view message, std::string_view untrusted,
                                std::string_view trusted, std::string& why) {
    return Take(trust::Sign(key, message, untrusted, trusted), why);
}
std::optional<Signature> ReadSignature(std::string_view text, std::string& why) {
    return Take(trust::ReadSignature(text), why);
}
Verdict Verify(const PublicKey& key, const Signature& signature, std::string_view message, std::string& why) {
    Verification verified = trust::Verify(key, signature, message);
    why = std::move(verified.why);
    return verified.verdict;
}

// The least work scrypt does, so that a password-protected key takes milliseconds.
constexpr KdfLimits kFast{32768, 1 << 20};
constexpr std::string_view kMessage = "The upgrade's bytes\r\n\0and more\n"sv;

NewKey Generate(const std::optional<std::string>& password = std::nullopt) {
    std::string why;
    std::optional<NewKey> key = GenerateKey(password, why, kFast);
    if (!key) ADD_FAILURE() << why;
    return key.value_or(NewKey{});
}

std::optional<SecretKey> Secret(const NewKey& key, std::string_view password = "") {
    std::string why;
    std::optional<SecretKey> secret = ReadSecretKey(key.secretFile, password, why, kFast);
    if (!secret) ADD_FAILURE() << why;
    return secret;
}

std::string SignText(const SecretKey& key, std::string_view message, std::string_view trusted = "made for a test") {
    std::string why;
    std::optional<std::string> text = Sign(key, message, "signature from a test key", trusted, why);
    if (!text) ADD_FAILURE() << why;
    return text.value_or("");
}

// The verdict on a signature file; Invalid too when the file cannot be read.
Verdict Check(const PublicKey& key, std::string_view signatureText, std::string_view message) {
    std::string why;
    const std::optional<Signature> signature = ReadSignature(signatureText, why);
    return signature ? Verify(key, *signature, message, why) : Verdict::Invalid;
}

// The bytes of a file's second line, and that line made of bytes again.
std::vector<uint8_t> Decode(const std::string& file) {
    const size_t start = file.find('\n') + 1;
    const std::string line = file.substr(start, file.find('\n', start) - start);
    std::vector<uint8_t> bytes(line.size());
    size_t size = 0;
    EXPECT_EQ(sodium_base642bin(bytes.data(), bytes.size(), line.data(), line.size(), nullptr, &size, nullptr,
                                sodium_base64_VARIANT_ORIGINAL),
              0);
    bytes.resize(size);
    return bytes;
}
std::string Encode(const std::string& file, const std::vector<uint8_t>& bytes) {
    std::string line(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(line.data(), line.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    line.pop_back();
    return file.substr(0, file.find('\n') + 1) + line + "\n";
}
// Where the encrypted part of a secret key's bytes begins: after three algorithms, salt and limits.
constexpr size_t kSealedAt = 6 + 32 + 8 + 8;

TEST(Minisign, SignedMessageVerifiesWithItsTrustedComment) {
    const NewKey key = Generate();
    const std::optional<SecretKey> secret = Secret(key);
    ASSERT_TRUE(secret);
    EXPECT_EQ(secret->Public(), key.publicKey);
    const std::string text = SignText(*secret, kMessage, "timestamp:1700000000\tfile:upgrade.zip");

    std::string why;
    const std::optional<Signature> signature = ReadSignature(text, why);
    ASSERT_TRUE(signature) << why;
    EXPECT_TRUE(signature->prehashed);
    EXPECT_EQ(signature->trustedComment, "timestamp:1700000000\tfile:upgrade.zip");
    EXPECT_EQ(signature->KeyIdText(), key.publicKey.IdText());
    EXPECT_EQ(Verify(key.publicKey, *signature, kMessage, why), Verdict::Valid) << why;
    EXPECT_EQ(Check(key.publicKey, text, ""), Verdict::Invalid);
}

TEST(Minisign, PublicKeyReadsFromItsFileOrItsLine) {
    const NewKey key = Generate();
    EXPECT_EQ(key.publicFile.substr(0, key.publicFile.find('\n')),
              "untrusted comment: minisign public key " + key.publicKey.IdText());
    std::string why;
    EXPECT_EQ(ReadPublicKey(key.publicFile, why), key.publicKey) << why;
    const std::string line = key.publicFile.substr(key.publicFile.find('\n') + 1);
    EXPECT_EQ(ReadPublicKey(line, why), key.publicKey) << why;
    EXPECT_EQ(ReadPublicKey(line.substr(0, line.size() - 1), why), key.publicKey) << why;
    EXPECT_EQ(PublicKeyFile(key.publicKey), key.publicFile);
}

TEST(Minisign, KeyIdReadsAsLittleEndianNumber) {
    const KeyId id = {0x7e, 0x55, 0xcc, 0x0c, 0x25, 0xfc, 0xe9, 0x64};
    EXPECT_EQ(KeyIdText(id), "64E9FC250CCC557E");
    EXPECT_EQ(KeyIdFromText("64e9fc250ccc557E"), id);
    const KeyId small = {0xa4, 0x4f, 0xbe, 0xbb, 0x70, 0x28, 0x2d, 0x09};
    EXPECT_EQ(KeyIdText(small), "092D2870BBBE4FA4");
    EXPECT_EQ(KeyIdFromText("92D2870BBBE4FA4"), small);
    for (const char* wrong : {"", "0092D2870BBBE4FA4", "92D2870BBBE4FAG", " 92D2870BBBE4FA4", "+1"})
        EXPECT_FALSE(KeyIdFromText(wrong)) << wrong;
}

TEST(Minisign, PasswordProtectsTheSecretKey) {
    const NewKey key = Generate("correct horse");
    EXPECT_TRUE(SecretKeyIsEncrypted(key.secretFile));
    const std::optional<SecretKey> secret = Secret(key, "correct horse");
    ASSERT_TRUE(secret);
    EXPECT_EQ(secret->Public(), key.publicKey);
    EXPECT_EQ(Check(key.publicKey, SignText(*secret, kMessage), kMessage), Verdict::Valid);

    for (const char* wrong : {"", "correct horse ", "Correct horse"}) {
        std::string why;
        EXPECT_FALSE(ReadSecretKey(key.secretFile, wrong, why, kFast)) << wrong;
        EXPECT_EQ(why, "wrong password or damaged key");
    }
}

TEST(Minisign, KeyWithoutPasswordIsStoredInTheClear) {
    const NewKey key = Generate();
    EXPECT_FALSE(SecretKeyIsEncrypted(key.secretFile));
    const std::vector<uint8_t> bytes = Decode(key.secretFile);
    ASSERT_EQ(bytes.size(), 158u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), std::string("Ed\0\0B2", 6));
    EXPECT_TRUE(std::all_of(bytes.begin() + 6, bytes.begin() + kSealedAt, [](uint8_t b) { return b == 0; }));
    // Whatever password is given does not matter.
    std::string why;
    EXPECT_TRUE(ReadSecretKey(key.secretFile, "anything", why)) << why;
}

TEST(Minisign, ScryptLimitsAboveTheBoundAreRefused) {
    const NewKey key = Generate("pw");
    std::string why;
    EXPECT_FALSE(ReadSecretKey(key.secretFile, "pw", why, {kFast.ops - 1, kFast.mem}));
    EXPECT_NE(why.find("scrypt limits 32768 and 1048576"), std::string::npos) << why;
    EXPECT_FALSE(ReadSecretKey(key.secretFile, "pw", why, {kFast.ops, kFast.mem - 1}));
    EXPECT_FALSE(GenerateKey("pw", why, {KdfLimits{}.ops + 1, 1 << 20}));
    EXPECT_FALSE(GenerateKey("pw", why, {32768, KdfLimits{}.mem + 1}));
}

TEST(Minisign, DamagedSecretKeyIsRefused) {
    const NewKey key = Generate();
    const std::vector<uint8_t> bytes = Decode(key.secretFile);
    for (size_t at : {size_t{0}, size_t{3}, size_t{5}, kSealedAt, kSealedAt + 8, kSealedAt + 50, kSealedAt + 100,
                      bytes.size() - 1}) {
        std::vector<uint8_t> damaged = bytes;
        damaged[at] ^= 0x10;
        std::string why;
        EXPECT_FALSE(ReadSecretKey(Encode(key.secretFile, damaged), "", why)) << "byte " << at;
    }
    // A checksum of zeros (as `minisign -G -W` writes) leaves the public half to tell the damage.
    std::vector<uint8_t> unchecked = bytes;
    std::fill(unchecked.end() - 32, unchecked.end(), 0);
    std::string why;
    EXPECT_TRUE(ReadSecretKey(Encode(key.secretFile, unchecked), "", why)) << why;
    unchecked[kSealedAt + 8 + 40] ^= 1;
    EXPECT_FALSE(ReadSecretKey(Encode(key.secretFile, unchecked), "", why));
    EXPECT_EQ(why, "the key is damaged (its public half does not match its secret)");
}

// Each change to what a signature covers, and what it must make of the verdict.
struct Tampering {
    const char* name;
    std::function<void(std::string& message, Signature& signature)> change;
    Verdict verdict;
};

TEST(Minisign, TamperingIsFound) {
    const NewKey key = Generate(), other = Generate();
    const std::optional<SecretKey> secret = Secret(key), otherSecret = Secret(other);
    ASSERT_TRUE(secret && otherSecret);
    std::string why;
    const Signature mine = *ReadSignature(SignText(*secret, kMessage), why);
    const Signature theirs = *ReadSignature(SignText(*otherSecret, kMessage), why);

    const Tampering cases[] = {
        {"unchanged", [](std::string&, Signature&) {}, Verdict::Valid},
        {"message byte", [](std::string& m, Signature&) { m[7] ^= 1; }, Verdict::Invalid},
        {"message longer", [](std::string& m, Signature&) { m += '\n'; }, Verdict::Invalid},
        {"trusted comment", [](std::string&, Signature& s) { s.trustedComment[0] = 'M'; }, Verdict::Invalid},
        {"trusted comment longer", [](std::string&, Signature& s) { s.trustedComment += ' '; }, Verdict::Invalid},
        {"signature byte", [](std::string&, Signature& s) { s.signature[20] ^= 4; }, Verdict::Invalid},
        {"global signature byte", [](std::string&, Signature& s) { s.globalSignature[63] ^= 1; }, Verdict::Invalid},
        {"not prehashed", [](std::string&, Signature& s) { s.prehashed = false; }, Verdict::Invalid},
        {"other key", [&](std::string&, Signature& s) { s = theirs; }, Verdict::OtherKey},
        {"other key, id forged", [&](std::string&, Signature& s) { s = theirs, s.keyId = mine.keyId; },
         Verdict::Invalid},
        {"other key's trusted comment", [&](std::string&, Signature& s) { s.globalSignature = theirs.globalSignature; },
         Verdict::Invalid},
    };
    for (const Tampering& c : cases) {
        std::string message(kMessage);
        Signature signature = mine;
        c.change(message, signature);
        EXPECT_EQ(Verify(key.publicKey, signature, message, why), c.verdict) << c.name << ": " << why;
    }
}

// A signature file made once, by a key made once, for the property below.
struct Signed {
    NewKey key = Generate();
    std::string text = SignText(*Secret(key), kMessage);
};
const Signed& Example() {
    static const Signed example;
    return example;
}

// Only the untrusted comment may be changed (it says so); every other byte of the file is covered.
RC_GTEST_PROP(MinisignProperty, ChangedByteOutsideTheUntrustedCommentNeverVerifies, ()) {
    const Signed& example = Example();
    const size_t commentEnd = example.text.find('\n');
    const size_t at = *rc::gen::oneOf(rc::gen::inRange<size_t>(0, sizeof "untrusted comment: " - 1),
                                      rc::gen::inRange(commentEnd, example.text.size()));
    const auto change = *rc::gen::inRange(1, 256);
    std::string text = example.text;
    text[at] = static_cast<char>(static_cast<uint8_t>(text[at]) ^ change);
    RC_ASSERT(Check(example.key.publicKey, text, kMessage) != Verdict::Valid);
}

TEST(Minisign, TruncatedFilesAreRefused) {
    const Signed& example = Example();
    // Only the last line end may go missing.
    for (size_t size = 0; size + 1 < example.text.size(); ++size)
        EXPECT_EQ(Check(example.key.publicKey, example.text.substr(0, size), kMessage), Verdict::Invalid) << size;
    EXPECT_EQ(Check(example.key.publicKey, example.text.substr(0, example.text.size() - 1), kMessage), Verdict::Valid);

    std::string why;
    for (size_t size = 0; size + 1 < example.key.publicFile.size(); ++size) {
        const std::string text = example.key.publicFile.substr(0, size);
        EXPECT_FALSE(ReadPublicKey(text, why)) << text;
    }
    for (size_t size = 0; size + 1 < example.key.secretFile.size(); ++size) {
        const std::string text = example.key.secretFile.substr(0, size);
        EXPECT_FALSE(ReadSecretKey(text, "", why)) << text;
    }
}

TEST(Minisign, LinesEndInLineFeedOrCarriageReturnLineFeed) {
    const Signed& example = Example();
    std::string crlf;
    for (char c : example.text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(Check(example.key.publicKey, crlf, kMessage), Verdict::Valid);

    const size_t second = example.text.find('\n') + 1;
    const std::string refused[] = {
        example.text + "\n",
        example.text + "untrusted comment: more\n",
        "\n" + example.text,
        example.text.substr(0, second - 1) + "\r\r\n" + example.text.substr(second),
        example.text.substr(0, second) + " " + example.text.substr(second),
        example.text.substr(0, example.text.size() - 1) + "\r",
        "untrusted comment:" + example.text.substr(sizeof "untrusted comment:"),
    };
    for (const std::string& text : refused) {
        std::string why;
        EXPECT_FALSE(ReadSignature(text, why)) << text;
        EXPECT_FALSE(why.empty());
    }
}

// A byte outside the base64 alphabet (libsodium's decoder would take some above 127 for letters)
// anywhere in the signature's lines makes the file unreadable.
TEST(Minisign, BytesOutsideTheBase64AlphabetAreRefused) {
    std::string text = Example().text;
    const std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
    size_t start = 0;
    for (int line = 1; line <= 4; ++line) {
        const size_t end = text.find('\n', start);
        for (size_t at = start; line % 2 == 0 && at < end; ++at) {
            const char kept = text[at];
            for (int byte = 0; byte < 256; ++byte) {
                if (alphabet.find(static_cast<char>(byte)) != std::string_view::npos) continue;
                text[at] = static_cast<char>(byte);
                std::string why;
                ASSERT_FALSE(ReadSignature(text, why)) << "byte " << byte << " at " << at - start << " of line "
                                                       << line;
            }
            text[at] = kept;
        }
        start = end + 1;
    }
}

TEST(Minisign, CommentsThatCannotBeOneLineAreRefused) {
    const NewKey key = Generate();
    const std::optional<SecretKey> secret = Secret(key);
    ASSERT_TRUE(secret);
    std::string why;
    EXPECT_FALSE(Sign(*secret, kMessage, "one\ntwo", "", why));
    EXPECT_FALSE(Sign(*secret, kMessage, "", "one\rtwo", why));
    EXPECT_FALSE(Sign(*secret, kMessage, "", std::string_view("one\0two", 7), why));
    EXPECT_FALSE(Sign(*secret, kMessage, std::string(kMaxUntrustedComment + 1, 'u'), "", why));
    EXPECT_FALSE(Sign(*secret, kMessage, "", std::string(kMaxTrustedComment + 1, 't'), why));

    const std::string longest(kMaxTrustedComment, 't');
    const std::optional<std::string> text =
        Sign(*secret, kMessage, std::string(kMaxUntrustedComment, 'u'), longest, why);
    ASSERT_TRUE(text) << why;
    const std::optional<Signature> signature = ReadSignature(*text, why);
    ASSERT_TRUE(signature) << why;
    EXPECT_EQ(signature->trustedComment, longest);
}

// With the minisign tool: each test works in a folder of its own.
class MinisignToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v minisign >/dev/null 2>&1") != 0) GTEST_SKIP() << "minisign is not installed";
        WriteFile(m_dir / "upgrade.zip", kMessage);
    }
    // Runs minisign in the folder with `input` on its standard input; its exit status, output in m_output.
    int Minisign(const std::string& arguments, const std::string& input = "") {
        WriteFile(m_dir / "input", input);
        const std::string command = "cd " + Quote(m_dir.Path()) + " && minisign " + arguments +
                                    " <input >output 2>&1";
        const int raw = std::system(command.c_str());
        m_output = ReadFile(m_dir / "output");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    // The key of a file minisign made.
    PublicKey ToolPublicKey(const std::string& name) {
        std::string why;
        const std::optional<PublicKey> key = ReadPublicKey(ReadFile(m_dir / name), why);
        if (!key) ADD_FAILURE() << why;
        return key.value_or(PublicKey{});
    }

    TempDir m_dir;
    std::string m_output;
};

TEST_F(MinisignToolTest, ToolKeySignsHereAndToolVerifies) {
    ASSERT_EQ(Minisign("-G -W -p tool.pub -s tool.key"), 0) << m_output;
    const PublicKey key = ToolPublicKey("tool.pub");
    // The comment names the key by its id (without leading zeros in older minisign).
    const std::string comment = ReadFile(m_dir / "tool.pub").substr(0, ReadFile(m_dir / "tool.pub").find('\n'));
    const std::string prefix = "untrusted comment: minisign public key ";
    ASSERT_EQ(comment.substr(0, prefix.size()), prefix);
    EXPECT_EQ(KeyIdFromText(comment.substr(prefix.size())), key.id) << comment;

    std::string why;
    const std::optional<SecretKey> secret = ReadSecretKey(ReadFile(m_dir / "tool.key"), "", why);
    ASSERT_TRUE(secret) << why;
    EXPECT_EQ(secret->Public(), key);
    WriteFile(m_dir / "upgrade.zip.minisig", SignText(*secret, kMessage, "signed here\twith a tab"));
    EXPECT_EQ(Minisign("-Vm upgrade.zip -p tool.pub"), 0) << m_output;
    EXPECT_NE(m_output.find("Trusted comment: signed here\twith a tab\n"), std::string::npos) << m_output;

    WriteFile(m_dir / "upgrade.zip", std::string(kMessage) + " ");
    EXPECT_NE(Minisign("-Vm upgrade.zip -p tool.pub"), 0) << m_output;
}

TEST_F(MinisignToolTest, ToolSignatureVerifiesHere) {
    ASSERT_EQ(Minisign("-G -W -p tool.pub -s tool.key"), 0) << m_output;
    const PublicKey key = ToolPublicKey("tool.pub");
    std::string why;
    for (const char* legacy : {"", " -l"}) {
        SCOPED_TRACE(legacy);
        ASSERT_EQ(Minisign(std::string("-Sm upgrade.zip -s tool.key -t 'trusted comment'") + legacy), 0) << m_output;
        const std::optional<Signature> signature = ReadSignature(ReadFile(m_dir / "upgrade.zip.minisig"), why);
        ASSERT_TRUE(signature) << why;
        EXPECT_EQ(signature->prehashed, *legacy == '\0');
        EXPECT_EQ(signature->trustedComment, "trusted comment");
        EXPECT_EQ(Verify(key, *signature, kMessage, why), Verdict::Valid) << why;
        EXPECT_EQ(Verify(key, *signature, kMessage.substr(1), why), Verdict::Invalid);
        EXPECT_EQ(Verify(Generate().publicKey, *signature, kMessage, why), Verdict::OtherKey);
    }
}

TEST_F(MinisignToolTest, KeyMadeHereWorksWithTheTool) {
    const NewKey key = Generate();
    WriteFile(m_dir / "our.pub", key.publicFile);
    WriteFile(m_dir / "our.key", key.secretFile);
    ASSERT_EQ(Minisign("-Sm upgrade.zip -s our.key -t 'from the tool'"), 0) << m_output;
    EXPECT_EQ(Minisign("-Vm upgrade.zip -p our.pub"), 0) << m_output;
    EXPECT_EQ(Check(key.publicKey, ReadFile(m_dir / "upgrade.zip.minisig"), kMessage), Verdict::Valid);
    // The longest comments signed here are ones the tool reads.
    std::string why;
    const std::optional<std::string> longest = Sign(*Secret(key), kMessage, std::string(kMaxUntrustedComment, 'u'),
                                                    std::string(kMaxTrustedComment, 't'), why);
    ASSERT_TRUE(longest) << why;
    WriteFile(m_dir / "upgrade.zip.minisig", *longest);
    EXPECT_EQ(Minisign("-Vm upgrade.zip -p our.pub"), 0) << m_output;
    // The tool makes the same public key file of the secret key.
    ASSERT_EQ(Minisign("-R -s our.key -p again.pub"), 0) << m_output;
    EXPECT_EQ(ToolPublicKey("again.pub"), key.publicKey);
}

TEST_F(MinisignToolTest, PasswordKeyMadeHereWorksWithTheTool) {
    const NewKey key = Generate("s3cret pass");
    WriteFile(m_dir / "our.pub", key.publicFile);
    WriteFile(m_dir / "our.key", key.secretFile);
    EXPECT_NE(Minisign("-Sm upgrade.zip -s our.key", "wrong\n"), 0) << m_output;
    ASSERT_EQ(Minisign("-Sm upgrade.zip -s our.key", "s3cret pass\n"), 0) << m_output;
    EXPECT_EQ(Minisign("-Vm upgrade.zip -p our.pub"), 0) << m_output;
    EXPECT_EQ(Check(key.publicKey, ReadFile(m_dir / "upgrade.zip.minisig"), kMessage), Verdict::Valid);
}

}  // namespace
}  // namespace zrx::trust
