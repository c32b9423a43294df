#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <map>
#include <unordered_map>

#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/file_lists.h"
#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "upgrade_list/list_format.h"

namespace zrx::cli {

namespace {

namespace fs = std::filesystem;

// Why the file at `path` cannot be chosen: the lists offer regular files only.
std::string WhyNotChosen(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (fs::is_symlink(status)) return path + " is a symbolic link, not a file; the build takes files only";
    if (fs::exists(status) && !fs::is_regular_file(status)) return path + " is not a regular file";
    return path + ": no such file";
}

// Makes the line of `text` the current (and only selected) line, as a click does.
bool Choose(ui::ListBox& list, const std::string& text) {
    for (int i = 0; i < list.ListCount(); ++i) {
        if (list.List(i) == text) {
            list.UserSelect({i}, i);
            return true;
        }
    }
    return false;
}

struct Builder {
    Session& session;
    ui::MainForm& m = session.app.window.main;

    // What a list shows, by line text, and the one line this command selected in it.
    struct ListState {
        uint64_t revision = UINT64_MAX;
        std::unordered_map<std::string, int> lines;
        int selected = -1;
    };
    std::map<const ui::ListBox*, ListState> states;

    // Selects exactly the line `text` (false when the list has none), keeping a name index of the
    // list so that choosing thousands of names stays linear.
    bool SelectOnly(ui::ListBox& list, const std::string& text) {
        ListState& state = states[&list];
        if (state.revision != list.ItemsRevision()) {
            state.lines.clear();
            for (int i = list.ListCount() - 1; i >= 0; --i) state.lines[list.List(i)] = i;
            state.revision = list.ItemsRevision();
            state.selected = -1;
            for (const int i : list.SelectedIndices()) list.SetSelected(i, false);
        }
        if (state.selected >= 0) list.SetSelected(state.selected, false);
        state.selected = -1;
        const auto it = state.lines.find(text);
        if (it == state.lines.end()) return false;
        list.SetSelected(it->second, true);
        state.selected = it->second;
        return true;
    }

    void OpenFrame(int frameIndex) {
        if (!m.F_Format.Visible() || !m.F_Details(frameIndex).Visible()) m.M_Fileitems(frameIndex).Click();
    }

    // LIB:NAME into the chosen list of a library frame.
    bool Element(int frameIndex, const std::string& choice) {
        const auto colon = choice.find(':');
        if (colon == std::string::npos) return Fail(choice + ": write LIBRARY:NAME"), false;
        const std::string library = choice.substr(0, colon), name = choice.substr(colon + 1);
        OpenFrame(frameIndex);
        const ui::MainForm::LibraryFrame frame = m.LibraryFrameOf(frameIndex);
        const int current = frame.libraries->ListIndex();
        if (current < 0 || frame.libraries->List(current) != library) {
            if (!Choose(*frame.libraries, library)) {
                frame.libraries->Refresh();
                if (!Choose(*frame.libraries, library))
                    return Fail(library + ": no such library in " + frame.libraries->Path()), false;
            }
        }
        if (!SelectOnly(*frame.elements, name)) return Fail(name + ": no such element in " + library), false;
        return TakenOnce(*frame.chosen, *frame.move, choice, name);
    }

    // Presses ">>" and says so when the chosen list did not grow: the name was chosen already.
    // False when the choice was refused (its box has said why): nothing is built then.
    bool TakenOnce(const ui::ListBox& chosen, ui::Button& move, const std::string& choice, const std::string& name) {
        const int before = chosen.ListCount();
        const int boxes = session.dialogs.BoxCount();
        move.Click();
        if (session.dialogs.BoxCount() != boxes) return false;
        if (chosen.ListCount() == before)
            std::cerr << "zrxlibug-cli: " << choice << ": " << name << " is chosen already; it is taken once\n";
        return true;
    }

    // A file of a file frame.
    bool File(int frameIndex, ui::FileList& files, ui::Button& move, const std::string& name, bool openFrame = true,
              const std::string& choice = {}) {
        if (openFrame) OpenFrame(frameIndex);
        if (!SelectOnly(files, name)) {
            files.Refresh();
            if (!SelectOnly(files, name)) return Fail(WhyNotChosen(JoinPath(files.Path(), name))), false;
        }
        return TakenOnce(*m.FileFrameChosenList(frameIndex), move, choice.empty() ? name : choice, name);
    }

    bool Subcircuit(const std::string& choice) {
        const auto slash = choice.find('/');
        if (slash == std::string::npos) return Fail(choice + ": write SUBDIR/FILE"), false;
        // Both parts go into the list as plain names: a subdirectory that leads elsewhere ("..",
        // "A/B") would send the file outside the subcircuit directory on the user's side.
        for (const std::string& part : {choice.substr(0, slash), choice.substr(slash + 1)})
            if (const auto reason = UnsafeNameReason(part))
                return Fail(choice + ": \"" + part + "\" is not a plain name (" + *reason + "); write SUBDIR/FILE"), false;
        OpenFrame(5);
        const std::string dir = JoinPath(session.app.installation.env.ZSMsbk, choice.substr(0, slash));
        if (!m.F_sbcdir.SetPath(dir)) return Fail(dir + ": cannot be read"), false;
        m.F_SBCItem.SetPath(m.F_sbcdir.Path());
        return File(5, m.F_SBCItem, m.F_Sbcmove, choice.substr(slash + 1), false, choice);
    }

    bool Misc(const std::vector<std::string>& args) {
        // A bare file name is a file of the current folder.
        std::error_code error;
        const fs::path path = fs::absolute(args[0], error).lexically_normal();
        m.M_Fileitems(9).Click();
        if (!m.F_MiscDir.SetPath(path.parent_path().string())) return Fail(args[0] + ": its folder cannot be read"), false;
        m.F_Filedesc.SetText("");  // each --misc starts from an empty description box
        m.F_MiscDir.onChange();
        const auto& targets = m.F_Syspath.Items();
        const auto target = std::find(targets.begin(), targets.end(), args[1]);
        if (target == targets.end()) {
            std::string valid;
            for (const auto& t : targets) valid += " " + t;
            return Fail(args[1] + ": the target is one of" + valid), false;
        }
        m.F_Syspath.UserSelect(static_cast<int>(target - targets.begin()));
        // Without a description the file takes the one the window offers for its folder.
        if (args.size() > 2) m.F_Filedesc.SetText(args[2]);
        if (!Choose(m.F_Miscitem, path.filename().string())) return Fail(WhyNotChosen(path.string())), false;
        const int boxes = session.dialogs.BoxCount();
        m.F_MiscMove.Click();
        return session.dialogs.BoxCount() == boxes;  // a refused file has had its box
    }
};

}  // namespace

void AddBuildCommand(CLI::App& parent, int& status) {
    static std::string suite, dest, reload, signingKey, archiveFile, description;
    static bool listOnly = false, allowUnsigned = false;
    static std::vector<std::string> parts, symbols, packages, sparams, mparams, tals, dats, spcs, sbcs;
    static std::vector<std::vector<std::string>> miscs;
    CLI::App* build = parent.add_subcommand("build", "Make an upgrade folder from the installation's libraries and files");
    build->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    build->add_option("--dest", dest, "Destination folder of the upgrade (made when missing)")->required();
    build->add_flag("--list-only", listOnly, "Create Upgrade.lst file only");
    build->add_option("--reload", reload, "First reload this folder's (or upgrade archive's) Upgrade.lst into the builder");
    build->add_flag("--allow-unsigned", allowUnsigned,
                    "Reload an upgrade that no key the installation trusts has signed, this time");
    build->add_option("--part", parts, "LIB:NAME of a part (LIB a *.PART file in LibDir)");
    build->add_option("--symbol", symbols, "LIB:NAME of a symbol (LIB a *.SYMBOL file in LibDir)");
    build->add_option("--package", packages, "LIB:NAME of a package (LIB a *.PACKAGE file in LibDir)");
    build->add_option("--sparam", sparams, "LIB:NAME of a simulator model (LIB a *.SPARAM file in ZSMmod)");
    build->add_option("--mparam", mparams, "LIB:NAME of a mixed-mode model (LIB a *.MPARAM file in LibDir)");
    build->add_option("--tal", tals, "a .TAL file of LibDir");
    build->add_option("--dat", dats, "a .DAT file of JobDir");
    build->add_option("--spc", spcs, "a .SPC file of SysDir");
    build->add_option("--sbc", sbcs, "SUBDIR/FILE of a subcircuit in ZSMsbk");
    build->add_option("--misc", miscs, "PATH TARGET [DESCRIPTION]: any file, TARGET one of \\Lib ... \\Zsm_wrk")
        ->expected(2, 3)
        ->allow_extra_args(false);
    build->add_option("--sign", signingKey,
                      "Sign the upgrade's manifest with this minisign secret key file (its password is asked "
                      "on the terminal, or read from the first line of standard input)");
    build->add_option("--archive", archiveFile, "Also write the finished upgrade as this zip file")
        ->check([](const std::string& name) {
            return EndsWithIgnoreCase(name, ".zip")
                       ? std::string()
                       : "the upgrade is written as a zip file: " + name + " does not end in .zip";
        });
    build->add_option("--comment", description,
                      "The description the signature's trusted comment carries (the folder's name unless given)");
    build->footer("Every complete build writes Upgrade.sha256, the SHA-256 digests of its files (sha256sum -c "
                  "checks them). Exit status: 0 the upgrade was created as chosen (and signed and zipped as asked), "
                  "1 it was created but differs from what was chosen, or could not be signed or zipped, 2 nothing "
                  "was created.");
    build->callback([&status] {
        Session session;
        App& app = session.app;
        app.builder.seal = {
            signingKey.empty() ? std::string() : fs::absolute(signingKey).string(),
            archiveFile.empty() ? std::string() : fs::absolute(archiveFile).lexically_normal().string(),
            description};
        if (!Start(session, suite, true)) {
            status = kExitFailure;
            return;
        }
        ui::MainForm& m = app.window.main;
        app.verification.allowUnsigned = allowUnsigned;
        session.dialogs.SetAnswerer([](const ui::MessageBox& box) -> std::optional<ui::Answer> {
            if (StartsWith(box.text, "The  Lstfile load process")) return ui::Answer::Yes;
            return std::nullopt;
        });
        if (!reload.empty()) {
            m.M_Upgload.Click();
            // An archive is chosen in its folder's file list, as the window does.
            const fs::path path = fs::absolute(reload).lexically_normal();
            const bool archive = fs::is_regular_file(path);
            if (!m.F_lstdir.SetPath(WithoutTrailingSeparator((archive ? path.parent_path() : path).string()))) {
                status = Fail(reload + ": the folder cannot be read");
                return;
            }
            m.F_lstfile.SetPath(m.F_lstdir.Path());
            if (archive && !Choose(m.F_lstfile, path.filename().string())) {
                status = Fail(reload + ": neither a folder nor an upgrade archive");
                return;
            }
            m.F_lstok.Click();
            // A list that could not be reloaded has said why and is let go; records that were not
            // brought back have been named, and the build goes on without them.
            if (app.upgrade.ListPath.empty()) {
                status = kExitFailure;
                return;
            }
        }
        Builder builder{session, session.app.window.main, {}};
        bool ok = true;
        for (const auto& choice : parts) ok = builder.Element(0, choice) && ok;
        for (const auto& choice : symbols) ok = builder.Element(1, choice) && ok;
        for (const auto& choice : packages) ok = builder.Element(2, choice) && ok;
        for (const auto& choice : sparams) ok = builder.Element(3, choice) && ok;
        for (const auto& choice : mparams) ok = builder.Element(4, choice) && ok;
        for (const auto& file : tals) ok = builder.File(6, m.F_Thermtal, m.F_Talmove, file) && ok;
        for (const auto& file : dats) ok = builder.File(7, m.F_Thermdat, m.F_Datmove, file) && ok;
        for (const auto& file : spcs) ok = builder.File(8, m.F_Profitem, m.F_SPCmove, file) && ok;
        for (const auto& choice : sbcs) ok = builder.Subcircuit(choice) && ok;
        for (const auto& args : miscs) ok = builder.Misc(args) && ok;
        if (!ok) {
            status = kExitFailure;
            return;
        }
        // The destination as the builder takes it: without blanks around it.
        const std::string destination = TrimBlanks(dest);
        std::error_code error;
        // Folders are made for it, but never in the program's own folder of an installation: a
        // folder made there (in place of a trusted key, say) would stay though the build is refused.
        const fs::path absolute = fs::absolute(destination, error).lexically_normal();
        for (const fs::path& component : absolute)
            if (StartsWith(ToUpper(component.string()), ".ZRXLIBUG")) {
                status = Fail(dest + ": a build is never made in the program's own folder of an installation (" +
                              component.string() + ")");
                return;
            }
        fs::create_directories(destination, error);
        m.M_Build.Click();
        if (!m.F_Dir.SetPath(WithoutTrailingSeparator(fs::absolute(destination, error).lexically_normal().string()))) {
            status = Fail(dest + ": the destination folder cannot be made or read");
            return;
        }
        m.F_Dir.onChange();
        (listOnly ? m.F_Clstfile(0) : m.F_Clstfile(1)).Click();
        m.F_Create.Click();
        // The status follows what the folder, read back, holds of what was chosen.
        const BuildReport& report = app.builder.lastBuild;
        // What the reload could not bring back is missing from the build too.
        status = !report.listWritten ? kExitFailure
                 : report.differences.empty() && report.sealFailures.empty() && app.builder.notReloaded == 0
                     ? 0
                     : 1;
    });
}

}  // namespace zrx::cli
