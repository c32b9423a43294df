#include "trust/open_upgrade.h"

#include "archive/upgrade_archive.h"
#include "shell/app.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "trust/manifest.h"
#include "trust/upgrade_check.h"
#include "base/dialogs.h"
#include "upgrade_list/list_format.h"

namespace zrx {

namespace {

void Refuse(App& app, const std::string& text) {
    app.window.dialogs.ShowMessage({text, std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
}

}  // namespace

bool OpenUpgradeArchive(App& app, const std::string& path, std::string& folder) {
    std::string why;
    // What a killed program left unpacked goes first.
    history::RemoveLeftScratchFolders(app.installation.env);
    app.verification.scratch = history::ScratchFolder::Make(&app.installation.env, why);
    const archive::Unpacked unpacked =
        !app.verification.scratch || !app.verification.scratch->Folder().MakeFolder("unpacked", why, 0700)
            ? archive::Unpacked{false, {}, {}, why}
            : archive::Unpack(path, JoinPath(app.verification.scratch->Path(), "unpacked"), archive::Limits{},
                              [](std::string_view name) { return UnsafeNameReason(name); });
    if (!unpacked.ok) {
        Refuse(app, GetLocalMessage("The upgrade archive cannot be opened:", 20060) + " " + path + ": " + unpacked.why +
                        " " + GetLocalMessage("Nothing of it is used.", 20061));
        app.verification.scratch.reset();
        return false;
    }
    folder = unpacked.folder;
    return true;
}

bool OpenUpgrade(App& app) {
    app.verification.scratch.reset();
    app.upgrade.UpgradeDir = app.upgrade.ListPath;
    app.verification.check = {};
    std::string folder = app.upgrade.ListPath;
    std::string why;
    if (archive::IsArchiveName(app.upgrade.ListPath) && IsRegularFile(app.upgrade.ListPath) &&
        !OpenUpgradeArchive(app, app.upgrade.ListPath, folder))
        return false;

    std::vector<trust::TrustedKey> trusted;
    if (!trust::TrustedKeys(&app.installation.env, trusted, why)) {
        Refuse(app, GetLocalMessage("The installation's trusted keys cannot be used; nothing is offered:", 20062) + " " +
                        why);
        return false;
    }
    // With a manifest, the files are checked as they are copied into a private folder, and that
    // copy is what the program reads from then on: a file changed in the upgrade folder after it
    // was checked is never the one copied into the installation.
    std::string copy;
    if (IsRegularFile(ResolveNameInDir(folder, trust::kManifestName))) {
        if (!app.verification.scratch) {
            history::RemoveLeftScratchFolders(app.installation.env);
            app.verification.scratch = history::ScratchFolder::Make(&app.installation.env, why);
        }
        if (!app.verification.scratch || !app.verification.scratch->Folder().MakeFolder("checked", why, 0700)) {
            Refuse(app, GetLocalMessage("The upgrade cannot be checked:", 20063) + " " + why);
            app.verification.scratch.reset();
            return false;
        }
        copy = JoinPath(app.verification.scratch->Path(), "checked");
    }
    app.verification.check = trust::CheckUpgrade(folder, trusted, copy);
    const trust::UpgradeCheck& check = app.verification.check;
    if (check.state == trust::UpgradeState::Tampered) {
        std::string text = GetLocalMessage("The upgrade is not as it was made; nothing is offered from it:", 20064) +
                           " " + app.upgrade.ListPath;
        for (const std::string& problem : check.problems) text += "\r\n" + problem;
        Refuse(app, text);
        app.verification.scratch.reset();
        return false;
    }
    if (!trusted.empty() && check.state != trust::UpgradeState::Signed && !app.verification.allowUnsigned) {
        const std::string question =
            GetLocalMessage("This installation trusts only upgrades signed by its trusted keys, and this one is not:",
                            20065) +
            " " + app.upgrade.ListPath + " is " + check.Describe() + ". " +
            GetLocalMessage("Load it anyway, for this time only?", 20066);
        if (!AskYesNo(app.window.dialogs, question)) {
            app.verification.scratch.reset();
            return false;
        }
    }
    app.upgrade.UpgradeDir = copy.empty() ? folder : copy;
    return true;
}

std::string UpgradeStateText(App& app, const std::string& folderOrArchive) {
    if (folderOrArchive.empty()) return {};
    if (archive::IsArchiveName(folderOrArchive) && IsRegularFile(folderOrArchive))
        return GetLocalMessage("An upgrade archive: it is unpacked and checked when it is opened.", 20067);
    if (!IsRegularFile(ResolveNameInDir(folderOrArchive, kListFileName))) return {};
    std::vector<trust::TrustedKey> trusted;
    std::string why;
    if (!trust::TrustedKeys(&app.installation.env, trusted, why))
        return GetLocalMessage("The installation's trusted keys cannot be used:", 20068) + " " + why;
    const trust::UpgradeCheck check = trust::CheckUpgrade(folderOrArchive, trusted);
    std::string text = GetLocalMessage("This upgrade is", 20069) + " " + check.Describe();
    if (!trusted.empty() && check.state != trust::UpgradeState::Signed && check.state != trust::UpgradeState::Tampered)
        text += " " + GetLocalMessage("(this installation asks before it loads an upgrade its keys did not sign)", 20070);
    return text;
}

}  // namespace zrx
