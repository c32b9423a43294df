#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "base/messages.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "archive/upgrade_archive.h"
#include "builder/builder_lists.h"
#include "builder/upgrade_writer.h"
#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "program/upgrade_pages.h"
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

// Whether a folder can be listed, as the window's folder lists need it.
bool Readable(const std::string& dir) {
    std::error_code error;
    fs::directory_iterator(dir, error);
    return !error;
}

// Fills the builder's state from the command line's choices, as the window's ">>" buttons would:
// the same checks, the same boxes.
struct Builder {
    Session& session;
    App& app = session.app;
    const Environment& env = app.installation.env;
    // The element names of each library looked at, by frame and file name.
    std::map<std::pair<int, std::string>, std::unordered_set<std::string>> elements;

    // Says that a choice made already is taken once; false when the choice was refused (its box
    // has said why): nothing is built then.
    bool Taken(Choice choice, const std::string& text, const std::string& name) {
        if (choice == Choice::Refused) return false;
        if (choice == Choice::AlreadyChosen)
            std::cerr << "zrxlibug-cli: " << text << ": " << name << " is chosen already; it is taken once\n";
        return true;
    }

    // LIB:NAME into the chosen list of a library frame.
    bool Element(int kind, const std::string& choice) {
        const auto colon = choice.find(':');
        if (colon == std::string::npos) return Fail(choice + ": write LIBRARY:NAME"), false;
        const std::string library = choice.substr(0, colon), name = choice.substr(colon + 1);
        const std::string& dir = *TablesOfKind(app.builder, env, kind).directory;
        auto known = elements.find({kind, library});
        if (known == elements.end()) {
            if (!OfferedInFrame(kind, dir, library)) return Fail(library + ": no such library in " + dir), false;
            auto names = LibraryElementNames(env, kind, library);
            if (!names) return Fail(library + ": its elements cannot be listed: " + names.Why()), false;
            known = elements.emplace(std::make_pair(kind, library),
                                     std::unordered_set<std::string>(names->begin(), names->end()))
                        .first;
        }
        if (!known->second.contains(name)) return Fail(name + ": no such element in " + library), false;
        return Taken(ChooseElements(app.builder, env, session.dialogs, kind, library, {name}).front(), choice, name);
    }

    // A file of a .TAL, .DAT or .SPC frame, from its folder.
    bool File(int frame, const std::string& dir, const std::string& name) {
        if (!OfferedInFrame(frame, dir, name)) return Fail(WhyNotChosen(JoinPath(dir, name))), false;
        return Taken(ChooseFiles(app.builder, env, session.dialogs, frame, dir, {name}).front(), name, name);
    }

    bool Subcircuit(const std::string& choice) {
        const auto slash = choice.find('/');
        if (slash == std::string::npos) return Fail(choice + ": write SUBDIR/FILE"), false;
        // Both parts go into the list as plain names: a subdirectory that leads elsewhere ("..",
        // "A/B") would send the file outside the subcircuit directory on the user's side.
        for (const std::string& part : {choice.substr(0, slash), choice.substr(slash + 1)})
            if (const auto reason = UnsafeNameReason(part))
                return Fail(choice + ": \"" + part + "\" is not a plain name (" + *reason + "); write SUBDIR/FILE"),
                       false;
        const std::string dir = WithoutTrailingSeparator(JoinPath(env.ZSMsbk, choice.substr(0, slash)));
        if (!Readable(dir)) return Fail(dir + ": cannot be read"), false;
        const std::string name = choice.substr(slash + 1);
        if (!OfferedInFrame(kSbcFiles, dir, name)) return Fail(WhyNotChosen(JoinPath(dir, name))), false;
        const auto choices =
            ChooseFiles(app.builder, env, session.dialogs, kSbcFiles, dir, {name}, LastPathComponent(dir));
        return choices.empty() || Taken(choices.front(), choice, name);
    }

    // PATH TARGET [DESCRIPTION] into the any-file frame.
    bool Misc(const std::vector<std::string>& args) {
        // A bare file name is a file of the current folder.
        std::error_code error;
        const fs::path path = fs::absolute(args[0], error).lexically_normal();
        const std::string dir = WithoutTrailingSeparator(path.parent_path().string());
        if (!Readable(dir)) return Fail(args[0] + ": its folder cannot be read"), false;
        if (std::find(kTargetTexts.begin(), kTargetTexts.end(), args[1]) == kTargetTexts.end()) {
            std::string valid;
            for (const auto& t : kTargetTexts) valid += " " + std::string(t);
            return Fail(args[1] + ": the target is one of" + valid), false;
        }
        // Without a description the file takes the one the window offers for its folder.
        const std::string description = args.size() > 2 ? args[2] : DefaultMiscDescription(env, dir);
        const std::string name = path.filename().string();
        if (!OfferedInFrame(kMiscFiles, dir, name)) return Fail(WhyNotChosen(path.string())), false;
        return ChooseMiscFile(app.builder, env, session.dialogs, dir, name, args[1], description) != Choice::Refused;
    }
};

// The command's options as given.
struct BuildOptions {
    std::string suite, dest, reload, signingKey, archiveFile, description;
    bool listOnly = false, allowUnsigned = false;
    std::vector<std::string> parts, symbols, packages, sparams, mparams, tals, dats, spcs, sbcs;
    std::vector<std::vector<std::string>> miscs;
};

// --reload: an archive is chosen in its folder's file list, as the window does; any other file of
// a folder chooses the folder. False when the list could not be reloaded (it has said why).
bool Reload(App& app, const std::string& reload) {
    const fs::path path = fs::absolute(reload).lexically_normal();
    const bool file = fs::is_regular_file(path);
    const std::string folder = WithoutTrailingSeparator((file ? path.parent_path() : path).string());
    if (!Readable(folder)) return Fail(reload + ": the folder cannot be read"), false;
    // A list that could not be reloaded has said why and is let go; records that were not brought
    // back have been named, and the build goes on without them.
    app.upgrade.ListPath = folder;
    return ReloadIntoBuilder(app, file && archive::IsArchiveName(path.filename().string())
                                      ? JoinPath(folder, path.filename().string())
                                      : folder);
}

// Every choice of the command line, in the order of the frames; false when one was refused.
bool ChooseAll(Session& session, const BuildOptions& o) {
    Builder builder{session};
    const Environment& env = session.app.installation.env;
    bool ok = true;
    for (const auto& choice : o.parts) ok = builder.Element(kParts, choice) && ok;
    for (const auto& choice : o.symbols) ok = builder.Element(kSymbols, choice) && ok;
    for (const auto& choice : o.packages) ok = builder.Element(kPackages, choice) && ok;
    for (const auto& choice : o.sparams) ok = builder.Element(kSparams, choice) && ok;
    for (const auto& choice : o.mparams) ok = builder.Element(kMparams, choice) && ok;
    for (const auto& file : o.tals) ok = builder.File(kTalFiles, env.LibDir, file) && ok;
    for (const auto& file : o.dats) ok = builder.File(kDatFiles, env.JobDir, file) && ok;
    for (const auto& file : o.spcs) ok = builder.File(kSpcFiles, env.SysDir, file) && ok;
    for (const auto& choice : o.sbcs) ok = builder.Subcircuit(choice) && ok;
    for (const auto& args : o.miscs) ok = builder.Misc(args) && ok;
    return ok;
}

// The destination as the builder takes it (without blanks around it), made when missing; false
// when it cannot be (said).
bool ChooseDestination(BuilderState& builder, const std::string& dest) {
    const std::string destination = TrimBlanks(dest);
    std::error_code error;
    // Folders are made for it, but never in the program's own folder of an installation: a folder
    // made there (in place of a trusted key, say) would stay though the build is refused.
    const fs::path absolute = fs::absolute(destination, error).lexically_normal();
    for (const fs::path& component : absolute)
        if (StartsWith(ToUpper(component.string()), ".ZRXLIBUG"))
            return Fail(dest + ": a build is never made in the program's own folder of an installation (" +
                        component.string() + ")"),
                   false;
    fs::create_directories(destination, error);
    const std::string folder = WithoutTrailingSeparator(absolute.string());
    if (!Readable(folder)) return Fail(dest + ": the destination folder cannot be made or read"), false;
    SetDestinationFolder(builder, folder);
    return true;
}

int Build(const BuildOptions& o) {
    Session session;
    App& app = session.app;
    app.builder.seal = {o.signingKey.empty() ? std::string() : fs::absolute(o.signingKey).string(),
                        o.archiveFile.empty() ? std::string() : fs::absolute(o.archiveFile).lexically_normal().string(),
                        o.description};
    if (!Start(session, o.suite, true)) return kExitFailure;
    app.verification.allowUnsigned = o.allowUnsigned;
    session.dialogs.SetAnswerer([](const ui::MessageBox& box) -> std::optional<ui::Answer> {
        if (StartsWith(box.text, "The  Lstfile load process")) return ui::Answer::Yes;
        return std::nullopt;
    });
    if (!o.reload.empty() && !Reload(app, o.reload)) return kExitFailure;
    if (!ChooseAll(session, o) || !ChooseDestination(app.builder, o.dest)) return kExitFailure;
    app.builder.listOnly = o.listOnly;
    BuildUpgrade(app.builder, app.installation.env, session.dialogs, app.run.AskOverwrite);
    // The status follows what the folder, read back, holds of what was chosen; what the reload
    // could not bring back is missing from the build too.
    const BuildReport& report = app.builder.lastBuild;
    if (!report.listWritten) return kExitFailure;
    return report.differences.empty() && report.sealFailures.empty() && app.builder.notReloaded == 0 ? 0 : 1;
}

}  // namespace

void AddBuildCommand(CLI::App& parent, int& status) {
    static BuildOptions o;
    CLI::App* build = parent.add_subcommand("build", "Make an upgrade folder from the installation's libraries and files");
    build->add_option("--suite", o.suite, "Installation directory (holds ZARNIX32.INI)")->required();
    build->add_option("--dest", o.dest, "Destination folder of the upgrade (made when missing)")->required();
    build->add_flag("--list-only", o.listOnly, "Create Upgrade.lst file only");
    build->add_option("--reload", o.reload, "First reload this folder's (or upgrade archive's) Upgrade.lst into the builder");
    build->add_flag("--allow-unsigned", o.allowUnsigned,
                    "Reload an upgrade that no key the installation trusts has signed, this time");
    build->add_option("--part", o.parts, "LIB:NAME of a part (LIB a *.PART file in LibDir)");
    build->add_option("--symbol", o.symbols, "LIB:NAME of a symbol (LIB a *.SYMBOL file in LibDir)");
    build->add_option("--package", o.packages, "LIB:NAME of a package (LIB a *.PACKAGE file in LibDir)");
    build->add_option("--sparam", o.sparams, "LIB:NAME of a simulator model (LIB a *.SPARAM file in ZSMmod)");
    build->add_option("--mparam", o.mparams, "LIB:NAME of a mixed-mode model (LIB a *.MPARAM file in LibDir)");
    build->add_option("--tal", o.tals, "a .TAL file of LibDir");
    build->add_option("--dat", o.dats, "a .DAT file of JobDir");
    build->add_option("--spc", o.spcs, "a .SPC file of SysDir");
    build->add_option("--sbc", o.sbcs, "SUBDIR/FILE of a subcircuit in ZSMsbk");
    build->add_option("--misc", o.miscs, "PATH TARGET [DESCRIPTION]: any file, TARGET one of \\Lib ... \\Zsm_wrk")
        ->expected(2, 3)
        ->allow_extra_args(false);
    build->add_option("--sign", o.signingKey,
                      "Sign the upgrade's manifest with this minisign secret key file (its password is asked "
                      "on the terminal, or read from the first line of standard input)");
    build->add_option("--archive", o.archiveFile, "Also write the finished upgrade as this zip file")
        ->check([](const std::string& name) {
            return EndsWithIgnoreCase(name, ".zip")
                       ? std::string()
                       : "the upgrade is written as a zip file: " + name + " does not end in .zip";
        });
    build->add_option("--comment", o.description,
                      "The description the signature's trusted comment carries (the folder's name unless given)");
    build->footer("Every complete build writes Upgrade.sha256, the SHA-256 digests of its files (sha256sum -c "
                  "checks them). Exit status: 0 the upgrade was created as chosen (and signed and zipped as asked), "
                  "1 it was created but differs from what was chosen, or could not be signed or zipped, 2 nothing "
                  "was created.");
    build->callback([&status] { status = Build(o); });
}

}  // namespace zrx::cli
