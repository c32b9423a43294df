#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "archive/upgrade_archive.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "cli/cli_commands.h"
#include "cli/cli_rows.h"
#include "cli/cli_session.h"
#include "history/record_folder.h"
#include "trust/minisign.h"
#include "trust/open_upgrade.h"
#include "trust/trust_store.h"
#include "trust/upgrade_check.h"
#include "upgrade_list/list_format.h"

namespace zrx::cli {

namespace {

namespace fs = std::filesystem;

// Makes the new files `paths` (none of which may be there yet) with the texts `texts`: each is
// made empty first, so that none is written while another cannot be had; false (said) when they
// cannot all be written, and then none is left.
bool WriteNewFiles(const std::vector<std::string>& paths, const std::vector<std::string>& texts,
                   const std::vector<mode_t>& modes) {
    std::vector<int> fds;
    auto undo = [&](const std::string& why) {
        for (size_t i = 0; i < fds.size(); ++i) {
            ::close(fds[i]);
            ::unlink(paths[i].c_str());  // made here a moment ago: a file of this user's
        }
        Fail(why);
        return false;
    };
    for (size_t i = 0; i < paths.size(); ++i) {
        const int fd =
            ::open(paths[i].c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, modes[i]);
        if (fd < 0)
            return undo(paths[i] + (errno == EEXIST
                                        ? ": a file of that name is there already; it is left as it is, and "
                                          "no key was written"
                                        : std::string(": cannot be written: ") + std::strerror(errno)));
        fds.push_back(fd);
    }
    for (size_t i = 0; i < paths.size(); ++i)
        if (::write(fds[i], texts[i].data(), texts[i].size()) != static_cast<ssize_t>(texts[i].size()) ||
            ::fsync(fds[i]) != 0)
            return undo(paths[i] + ": cannot be written");
    for (const int fd : fds) ::close(fd);
    return true;
}

int VerifyStatus(trust::UpgradeState state) {
    switch (state) {
        case trust::UpgradeState::Signed:
        case trust::UpgradeState::Intact: return 0;
        case trust::UpgradeState::Unverified: return 1;
        case trust::UpgradeState::Tampered: return kExitFailure;
    }
    return kExitFailure;
}

}  // namespace

void AddVerifyCommand(CLI::App& parent, int& status) {
    static std::string suite, upgrade;
    static bool json = false;
    CLI::App* verify = parent.add_subcommand(
        "verify", "Check an upgrade folder or archive against its manifest and signature: signed, intact, "
                  "unverified or tampered");
    verify->add_option("--suite", suite, "Installation directory whose trusted keys count (else the system's only)");
    verify->add_flag("--json", json, "Print one JSON document");
    verify->add_option("UPGRADE", upgrade, "Folder that holds Upgrade.lst, or an upgrade archive")->required();
    verify->footer("Exit status: 0 signed or intact, 1 unverified, 2 tampered, or refused (an archive that breaks "
                   "the rules, or an upgrade not signed by a trusted key where the installation trusts keys).");
    verify->callback([&status] {
        Session session;
        const Environment* env = nullptr;
        if (!suite.empty()) {
            if (!Start(session, suite, false)) {
                status = kExitFailure;
                return;
            }
            env = &session.app.installation.env;
        }
        auto finish = [](int code, const std::string& text, const trust::UpgradeCheck* check) {
            if (json) {
                Json document{{"upgrade", upgrade}, {"exit_status", code}, {"meaning", text}};
                document["verification"] = check != nullptr ? VerificationJson(*check) : Json();
                std::cout << JsonText(document) << "\n";
            } else {
                (code == kExitFailure ? std::cerr : std::cout) << EscapeControls(upgrade) << ": " << EscapeControls(text) << "\n";
            }
            return code;
        };
        std::error_code error;
        std::string folder = fs::absolute(upgrade, error).lexically_normal().string();
        if (upgrade.empty() || error) {
            status = finish(kExitFailure, "refused: no upgrade folder or archive is named", nullptr);
            return;
        }
        std::shared_ptr<history::ScratchFolder> scratch;  // holds an unpacked archive until the check is done
        const bool archive = archive::IsArchiveName(folder) && fs::is_regular_file(folder);
        if (archive) {
            auto unpacked = UnpackUpgradeArchive(env, folder);
            if (!unpacked) {
                status = finish(kExitFailure, "refused: " + unpacked.Why(), nullptr);
                return;
            }
            scratch = std::move(unpacked->scratch);
            folder = unpacked->folder;
        } else if (!fs::is_directory(folder)) {
            status = finish(kExitFailure, "refused: neither a folder nor an upgrade archive", nullptr);
            return;
        }
        if (!IsRegularFile(ResolveNameInDir(folder, kListFileName))) {
            status = finish(kExitFailure,
                            "refused: it holds no upgrade list (" + std::string(kListFileName) +
                                (archive ? ") at its top or in its one top folder" : ")"),
                            nullptr);
            return;
        }
        const auto keys = trust::TrustedKeys(env);
        if (!keys) {
            status = finish(kExitFailure, "refused: the trusted keys cannot be used: " + keys.Why(), nullptr);
            return;
        }
        const std::vector<trust::TrustedKey>& trusted = *keys;
        const trust::UpgradeCheck check = trust::CheckUpgrade(folder, trusted);
        if (trust::WantsTrustedSignature(trusted, check)) {
            status = finish(kExitFailure, "refused: " + check.Describe() + "; only upgrades signed by a trusted key are "
                                          "taken here",
                            &check);
            return;
        }
        status = finish(VerifyStatus(check.state), check.Describe(), &check);
    });
}

namespace {

// key generate: the two files, or neither.
int GenerateKeyFiles(const std::string& name, bool noPassword) {
    std::optional<std::string> password;
    if (!noPassword) {
        ui::ConsoleDialogs dialogs;
        password = dialogs.AskPassword("Password for the new secret key:");
        auto again = password ? dialogs.AskPassword("The password again:") : std::nullopt;
        const bool same = again && password && *again == *password;
        if (again) WipeText(*again);
        if (!password || password->empty() || !same) {
            const bool none = !password || password->empty();
            if (password) WipeText(*password);
            return Fail(none ? "no password given (--no-password makes a key without one)" : "the two passwords differ");
        }
    }
    auto made = trust::GenerateKey(password);
    if (password) WipeText(*password);
    if (!made) return Fail("no key could be made: " + made.Why());
    const bool written = WriteNewFiles({name + ".key", name + ".pub"}, {made->secretFile, made->publicFile}, {0600, 0644});
    WipeText(made->secretFile);
    if (!written) return kExitFailure;
    std::cout << "Key " << made->publicKey.IdText() << ": secret key " << name << ".key, public key " << name
              << ".pub\n";
    return 0;
}

// key trust, key list and key untrust: each on the installation at `suite`.
int TrustKeyFile(const std::string& suite, const std::string& file) {
    Session session;
    if (!Start(session, suite, false)) return kExitFailure;
    const auto added = trust::TrustKey(session.app.installation.env, file);
    if (!added) return Fail(added.Why());
    std::cout << "Trusted key " << added->key.IdText() << " (" << added->file << ")\n";
    return 0;
}

int ListTrustedKeys(const std::string& suite) {
    Session session;
    if (!Start(session, suite, false)) return kExitFailure;
    const auto keys = trust::TrustedKeys(&session.app.installation.env);
    if (!keys) return Fail(keys.Why());
    for (const trust::TrustedKey& k : *keys)
        std::cout << k.key.IdText() << "\t" << EscapeControls(k.file) << "\n";
    return 0;
}

int UntrustKeyId(const std::string& suite, const std::string& id) {
    Session session;
    if (!Start(session, suite, false)) return kExitFailure;
    if (const Outcome untrusted = trust::UntrustKey(session.app.installation.env, id); !untrusted)
        return Fail(untrusted.Why());
    std::cout << "No longer trusted: key " << id << "\n";
    return 0;
}

}  // namespace

void AddKeyCommands(CLI::App& parent, int& status) {
    CLI::App* key = parent.add_subcommand("key", "Signing keys (minisign's files): make them, trust them");
    key->require_subcommand(1);
    static std::string name, file, id, suite;
    static bool noPassword = false;

    CLI::App* generate = key->add_subcommand("generate", "Make a key pair: NAME.key (secret) and NAME.pub (public)");
    generate->add_option("NAME", name, "Path and name of the two files, without their endings")->required();
    generate->add_flag("--no-password", noPassword, "Leave the secret key unencrypted");
    generate->callback([&status] { status = GenerateKeyFiles(name, noPassword); });

    CLI::App* trustCmd = key->add_subcommand("trust", "Trust upgrades this public key signs, in an installation");
    trustCmd->add_option("FILE", file, "Public key file (.pub)")->required();
    trustCmd->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    trustCmd->callback([&status] { status = TrustKeyFile(suite, file); });

    CLI::App* list = key->add_subcommand("list", "List the keys an installation trusts: id and file, one a line");
    list->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    list->callback([&status] { status = ListTrustedKeys(suite); });

    CLI::App* untrust = key->add_subcommand("untrust", "Stop trusting a key in an installation");
    untrust->add_option("ID", id, "The key's id (16 hex digits)")->required();
    untrust->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    untrust->callback([&status] { status = UntrustKeyId(suite, id); });
}

}  // namespace zrx::cli
