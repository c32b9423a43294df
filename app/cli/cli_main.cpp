// zrxlibug-cli: the program's work without a window.
#include <CLI/CLI.hpp>

#include <csignal>
#include <iostream>

#include "base/text_file.h"
#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "kernel/library_exchange.h"
#include "kernel/zrxkernel.h"
#include "zrx_version.h"

namespace zrx::cli {

void AddLibraryCommands(CLI::App& app, int& status) {
    CLI::App* lib = app.add_subcommand("lib", "Library files: create, list, show, export and import elements");
    lib->require_subcommand(1);

    static std::string file, name, kind, json;

    CLI::App* create = lib->add_subcommand("new", "Create an empty library");
    create->add_option("FILE", file, "Library file to create")->required();
    create->add_option("--kind", kind, "part or symbol")->required()->check(CLI::IsMember({"part", "symbol"}));
    create->callback([&] {
        const zrx::Outcome made =
            zrx::CreateLibrary(file, kind == "part" ? zrx::LibraryKind::Part : zrx::LibraryKind::Symbol);
        status = made ? 0 : Fail(made.Why());
    });

    CLI::App* list = lib->add_subcommand("ls", "List the element names, one a line");
    list->add_option("FILE", file, "Library file")->required();
    list->callback([&] {
        const auto names = zrx::ListLibrary(file);
        if (!names) {
            status = Fail(names.Why());
            return;
        }
        for (const std::string& n : *names) std::cout << n << "\n";
        status = 0;
    });

    CLI::App* show = lib->add_subcommand("show", "Show one element as JSON");
    show->add_option("FILE", file, "Library file")->required();
    show->add_option("NAME", name, "Element name")->required();
    show->callback([&] {
        const auto text = zrx::ExportElement(file, name);
        status = text ? (std::cout << *text, 0) : Fail(text.Why());
    });

    CLI::App* exportCmd = lib->add_subcommand("export", "Write the whole library as JSON to standard output");
    exportCmd->add_option("FILE", file, "Library file")->required();
    exportCmd->callback([&] {
        const auto text = zrx::ExportLibrary(file);
        status = text ? (std::cout << *text, 0) : Fail(text.Why());
    });

    CLI::App* importCmd = lib->add_subcommand("import", "Add or replace elements from a JSON file");
    importCmd->add_option("FILE", file, "Library file (created when missing)")->required();
    importCmd->add_option("JSON", json, "JSON document")->required();
    importCmd->callback([&] {
        std::string text;
        if (!zrx::ReadWholeFile(json, text)) {
            status = Fail(json + ": cannot be read");
            return;
        }
        const zrx::Outcome imported = zrx::ImportLibrary(file, text);
        status = imported ? 0 : Fail(imported.Why());
    });
}

}  // namespace zrx::cli

int main(int argc, char** argv) {
    using namespace zrx::cli;
    // A write past a file-size limit fails with an error the program reports, instead of ending it.
    std::signal(SIGXFSZ, SIG_IGN);
    CLI::App app{"zrxlibug-cli: preview, apply, undo, build and inspect Zarnix32 library upgrades"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("zrxlibug-cli ") + ZRX_VERSION);
    app.set_help_all_flag("--help-all", "Print this help with every subcommand's options");
    int status = 0;
    AddApplyCommand(app, status);
    AddBuildCommand(app, status);
    AddShowCommand(app, status);
    AddDiffCommand(app, status);
    AddVerifyCommand(app, status);
    AddHistoryCommands(app, status);
    AddDemoCommand(app, status);
    AddLibraryCommands(app, status);
    AddKeyCommands(app, status);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kExitFailure;
    }
    E_FlushLibraries();
    return status;
}
