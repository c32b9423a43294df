// minisign keys and signatures as they come from anywhere: the input read as a public key, a secret
// key (with a fixed password) and a signature, the signature checked against a fixed key, and what
// reads written again and read back.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "trust/minisign.h"

namespace {

// The key that made the seed signatures (corpus/fuzz_minisign/public.pub), the message they sign,
// and the password of the seed key that has one.
constexpr std::string_view kPublicKey = "RWRjekTkTo8OyJJRy5GYh93VRaaZWstvM0uch+pcKr77sFHPfBjF7fZN";
constexpr std::string_view kMessage = "zrxlibug fuzz message\n";
constexpr std::string_view kPassword = "fuzz";
// scrypt works at the limits the key file asks for: at minisign's own (the most a reader takes) an
// input would cost seconds and a gigabyte. The fuzzer takes keys that ask for little, which is
// enough to reach the decryption and the checks after it.
constexpr zrx::trust::KdfLimits kMost{65536, 1 << 22};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx::trust;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // A public key that reads writes as a file that reads as the same key, its key line as the input
    // has it (a key has one way to be written); a refusal says why.
    if (const auto key = ReadPublicKey(text)) {
        const std::string file = PublicKeyFile(*key);
        const std::string_view line = std::string_view(file).substr(file.find('\n') + 1, 56);
        const auto again = ReadPublicKey(file);
        if (!again || *again != *key || text.find(line) == std::string_view::npos) std::abort();
    } else if (key.Why().empty()) {
        std::abort();
    }

    // A secret key that reads signs what its public half verifies.
    SecretKeyIsEncrypted(text);
    if (const auto secret = ReadSecretKey(text, kPassword, kMost)) {
        const auto signedText = Sign(*secret, text.substr(0, 64), "fuzz", "fuzz");
        if (!signedText) std::abort();
        const auto signature = ReadSignature(*signedText);
        if (!signature || Verify(secret->Public(), *signature, text.substr(0, 64)).verdict != Verdict::Valid)
            std::abort();
    } else if (secret.Why().empty()) {
        std::abort();
    }

    // A key id that reads prints as its digits, in upper case, after leading zeros.
    if (const std::optional<KeyId> id = KeyIdFromText(text)) {
        std::string digits(16 - text.size(), '0');
        for (char c : text) digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (KeyIdText(*id) != digits) std::abort();
    }

    static const PublicKey fixed = *ReadPublicKey(kPublicKey);
    if (const auto signature = ReadSignature(text)) {
        Verify(fixed, *signature, kMessage);
        Verify(fixed, *signature, text);
    } else if (signature.Why().empty()) {
        std::abort();
    }
    return 0;
}
