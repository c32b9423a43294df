#include "trust/open_upgrade.h"

#include "archive/upgrade_archive.h"
#include "base/dialogs.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "trust/manifest.h"
#include "trust/upgrade_check.h"
#include "upgrade_list/list_format.h"

namespace zrx {

namespace {

void Refuse(ui::Dialogs& dialogs, const std::string& text) {
    ShowWarning(dialogs, text);
}

}  // namespace

Result<UnpackedUpgrade> UnpackUpgradeArchive(const Environment* env, const std::string& path) {
    // What a killed program left unpacked goes first.
    history::RemoveLeftScratchFolders(env);
    auto made = history::ScratchFolder::Make(env);
    if (!made) return Failure{made.Why()};
    std::shared_ptr<history::ScratchFolder> scratch = std::move(*made);
    if (const Outcome folder = scratch->Folder().MakeFolder("unpacked", 0700); !folder)
        return Failure{folder.Why()};
    auto into = scratch->Folder().Beneath("unpacked");
    if (!into) return Failure{into.Why()};
    // Every name must be one an upgrade list can name: nothing else of an archive is of use.
    const archive::Unpacked unpacked =
        archive::Unpack(path, *into, JoinPath(scratch->Path(), "unpacked"), archive::Limits{},
                        [](std::string_view name) { return UnlistableNameReason(name, true); });
    if (!unpacked.ok) return Failure{unpacked.why};
    return UnpackedUpgrade{std::move(scratch), unpacked.folder};
}

namespace {

// An archive unpacked into a private folder: the folder beneath it that holds the list (its path in
// `folderPath`); null when it cannot be opened, which a box has said.
std::shared_ptr<Directory> OpenArchive(const Environment& env, const LoadedUpgrade& upgrade,
                                       UpgradeVerification& verification, std::string& folderPath,
                                       ui::Dialogs& dialogs) {
    auto unpacked = UnpackUpgradeArchive(&env, upgrade.ListPath);
    if (!unpacked) {
        Refuse(dialogs, GetLocalMessage("The upgrade archive cannot be opened:", 20060) + " " +
                            upgrade.ListPath + ": " + unpacked.Why() + ". " +
                            GetLocalMessage("Nothing of it is used.", 20061));
        return nullptr;
    }
    verification.scratch = std::move(unpacked->scratch);
    folderPath = unpacked->folder;
    // The unpacked folder, beneath the private folder's own handle.
    const std::string base = JoinPath(verification.scratch->Path(), "");
    auto opened = verification.scratch->Folder().Beneath(
        folderPath.starts_with(base) ? folderPath.substr(base.size()) : "unpacked");
    auto folder = std::make_shared<Directory>(opened ? std::move(*opened) : Directory());
    // Said as what it is: the archive holds no list (not a path inside the archive file).
    if (!folder->IsOpen() || !folder->Find(kListFileName)) {
        Refuse(dialogs, GetLocalMessage("The upgrade archive cannot be opened:", 20060) + " " + upgrade.ListPath +
                            ": it holds no upgrade list (" + std::string(kListFileName) +
                            ") at its top or in its one top folder. " +
                            GetLocalMessage("Nothing of it is used.", 20061));
        verification.scratch.reset();
        return nullptr;
    }
    return folder;
}

// Whether what the check found lets the upgrade be loaded: its private copy made, nothing
// tampered, and signed by a trusted key where the installation asks for one (or the user's Yes
// for this time). What stops it a box has said.
bool Accepted(const std::vector<trust::TrustedKey>& trusted, const LoadedUpgrade& upgrade,
              UpgradeVerification& verification, ui::Dialogs& dialogs) {
    const trust::UpgradeCheck& check = verification.check;
    if (!check.copyFailure.empty() && check.state != trust::UpgradeState::Tampered) {
        Refuse(dialogs, GetLocalMessage("The upgrade cannot be checked:", 20063) + " " + check.copyFailure);
        return false;
    }
    if (check.state == trust::UpgradeState::Tampered) {
        std::string text =
            GetLocalMessage("The upgrade is not as it was made; nothing is offered from it:", 20064) + " " +
            upgrade.ListPath;
        for (size_t i = 0; i < check.problems.size(); ++i)
            text += "\r\n" + check.problems[i] + (i + 1 < check.problems.size() ? ";" : ".");
        Refuse(dialogs, text);
        return false;
    }
    const bool unsignedHere = trust::WantsTrustedSignature(trusted, check);
    if (unsignedHere && !verification.allowUnsigned) {
        const std::string question =
            GetLocalMessage("This installation trusts only upgrades signed by its trusted keys, and this one is not:",
                            20065) +
            " " + upgrade.ListPath + " is " + check.Describe() + ". " +
            GetLocalMessage("Load it anyway, for this time only?", 20066);
        if (!AskYesNo(dialogs, question)) return false;
    }
    verification.loadedUnsigned = unsignedHere;
    return true;
}

}  // namespace

bool OpenUpgrade(const Environment& env, LoadedUpgrade& upgrade, UpgradeVerification& verification,
                 ui::Dialogs& dialogs, trust::CopyScope scope) {
    verification.scratch.reset();
    verification.check = {};
    verification.loadedUnsigned = false;
    upgrade.UpgradeDir = upgrade.ListPath;
    upgrade.Folder.reset();
    upgrade.InPlace.reset();
    std::string folderPath = upgrade.ListPath;
    std::shared_ptr<Directory> folder;
    if (archive::IsArchiveName(upgrade.ListPath) &&
        IsRegularFile(upgrade.ListPath)) {  // file-access: what the user chose, before it is opened once
        folder = OpenArchive(env, upgrade, verification, folderPath, dialogs);
        if (!folder) return false;
    }
    const auto keys = trust::TrustedKeys(&env);
    if (!keys) {
        Refuse(dialogs,
               GetLocalMessage("The installation's trusted keys cannot be used; nothing is offered:", 20062) +
                   " " + keys.Why());
        return false;
    }
    const std::vector<trust::TrustedKey>& trusted = *keys;
    // The folder is opened once; everything of the upgrade is read through this handle. Where it
    // has a manifest, the list and libraries are checked as they are copied into a private folder,
    // and that copy is what the program reads them from then on; the data files are checked where
    // they lie, and each one's bytes are checked against that digest again wherever they are read
    // for use: a file changed in the upgrade folder after it was checked is never the one copied
    // into the installation. The open that finds the manifest is the one that decides (a second
    // look could see another folder). An archive's files are checked where they were unpacked:
    // that folder is already the program's own private copy.
    if (!folder) {
        // file-access: the folder the user chose, opened once; all of it is read through this handle
        auto opened = Directory::Open(folderPath.empty() ? "/" : folderPath);
        folder = std::make_shared<Directory>(opened ? std::move(*opened) : Directory());
    }
    if (!folder->IsOpen()) {
        upgrade.UpgradeDir = folderPath;  // reading its list says what is wrong
        return true;
    }
    std::shared_ptr<Directory> copy;
    std::string copyPath;
    trust::CopyFolder makeCopy;
    if (!verification.scratch) {
        makeCopy = [&]() -> Result<const Directory*> {
            history::RemoveLeftScratchFolders(&env);
            auto made = history::ScratchFolder::Make(&env);
            if (!made) return Failure{made.Why()};
            verification.scratch = std::move(*made);
            if (const Outcome checked = verification.scratch->Folder().MakeFolder("checked", 0700); !checked)
                return Failure{checked.Why()};
            auto opened = verification.scratch->Folder().Beneath("checked");
            if (!opened) return Failure{opened.Why()};
            copy = std::make_shared<Directory>(std::move(*opened));
            copyPath = JoinPath(verification.scratch->Path(), "checked");
            return copy.get();
        };
    }
    verification.check = trust::CheckUpgrade(*folder, folderPath, trusted, makeCopy, scope);
    if (!Accepted(trusted, upgrade, verification, dialogs)) {
        verification.scratch.reset();
        return false;
    }
    upgrade.UpgradeDir = copy ? copyPath : folderPath;
    upgrade.Folder = copy ? copy : folder;
    if (copy && !verification.check.inPlace.empty())
        upgrade.InPlace = std::make_shared<const CheckedInPlace>(
            CheckedInPlace{folder, std::move(verification.check.inPlace)});
    return true;
}

std::string UpgradeStateText(const Environment& env, const std::string& folderOrArchive) {
    if (folderOrArchive.empty()) return {};
    // What the load page says of a folder before it is chosen: looked at, nothing of it used.
    if (archive::IsArchiveName(folderOrArchive) && IsRegularFile(folderOrArchive))  // file-access: only shown
        return GetLocalMessage("An upgrade archive: it is unpacked and checked when it is opened.", 20067);
    if (!IsRegularFile(ResolveNameInDir(folderOrArchive, kListFileName)))
        return {};  // file-access: only shown
    const auto keys = trust::TrustedKeys(&env);
    if (!keys)
        return GetLocalMessage("The installation's trusted keys cannot be used:", 20068) + " " + keys.Why();
    const std::vector<trust::TrustedKey>& trusted = *keys;
    const trust::UpgradeCheck check = trust::CheckUpgrade(folderOrArchive, trusted);
    std::string text = GetLocalMessage("This upgrade is", 20069) + " " + check.Describe();
    if (trust::WantsTrustedSignature(trusted, check))
        text += " " + GetLocalMessage("(this installation asks before it loads an upgrade its keys did not sign)", 20070);
    return text;
}

}  // namespace zrx
