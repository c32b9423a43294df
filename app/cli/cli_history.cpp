#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>

#include "base/text_utils.h"
#include "cli/cli_commands.h"
#include "cli/cli_rows.h"
#include "cli/cli_session.h"
#include "history/rollback.h"

namespace zrx::cli {

namespace {

// Recorded changes that were found as they were before the run (saves that never reached the
// disk, say): the history counted them, nothing had to be brought back.
void SayAsBefore(const history::RollbackResult& result) {
    if (result.asBefore > 0)
        std::cout << result.asBefore << " recorded change" << (result.asBefore == 1 ? " was" : "s were")
                  << " found as before the run; nothing was brought back for "
                  << (result.asBefore == 1 ? "it" : "them") << ".\n";
}

int PrintHistory(const std::string& suite, bool json, int keep) {
    Session session;
    if (!Start(session, suite, false)) return kExitFailure;
    const Environment& env = session.app.installation.env;
    if (keep > 0)
        if (const Outcome kept = history::SetKeep(env, keep); !kept) return Fail(kept.Why());
    const auto listed = history::ListRuns(env);
    if (!listed) return Fail(listed.Why());
    const std::vector<history::RunSummary>& runs = *listed;
    if (json) {
        Json list = Json::array();
        for (const auto& run : runs)
            list.push_back({{"id", run.id},
                            {"started", run.started},
                            {"ended", run.ended.empty() ? Json(nullptr) : Json(run.ended)},
                            {"folder", ToDisplayUtf8(run.folder)},
                            {"elements", run.elements},
                            {"files", run.files},
                            {"state", run.state},
                            {"verification", run.verification.empty() ? Json(nullptr) : Json(run.verification)},
                            {"signer", run.signer.empty() ? Json(nullptr) : Json(run.signer)}});
        std::cout << JsonText(Json{{"runs", list}, {"kept", history::KeptRuns(env)}}) << "\n";
        return 0;
    }
    for (const auto& run : runs)
        std::cout << run.id << "\t" << run.started << "\t" << EscapeControls(run.folder) << "\t" << run.elements
                  << " elements\t" << run.files << " files\t" << run.state << "\t" << run.verification
                  << (run.signer.empty() ? "" : " by key " + run.signer) << "\n";
    return 0;
}

int RollBack(const std::string& suite, std::optional<int64_t> run, bool force) {
    Session session;
    if (!Start(session, suite, false)) return kExitFailure;
    const auto result = history::Rollback(session.app.installation.env, run, force);
    switch (result.outcome) {
        case history::RollbackResult::Outcome::NothingDone: return Fail(result.message);
        case history::RollbackResult::Outcome::Restored:
            std::cout << "Run " << result.run << " rolled back: " << result.restored << " changes undone.\n";
            SayAsBefore(result);
            return 0;
        case history::RollbackResult::Outcome::Conflicts:
            for (const std::string& conflict : result.conflicts)
                std::cerr << "zrxlibug-cli: left alone: " << conflict << "\n";
            std::cout << "Run " << result.run << " partly rolled back: " << result.restored << " changes undone, "
                      << result.conflicts.size()
                      << " left alone (each named above; --force also restores what was changed after the run).\n";
            SayAsBefore(result);
            return 1;
    }
    return kExitFailure;
}

}  // namespace

void AddHistoryCommands(CLI::App& parent, int& status) {
    static std::string suite;
    static bool json = false;
    static int keep = 0;
    CLI::App* history = parent.add_subcommand("history", "List the recorded update runs, newest first");
    history->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    history->add_flag("--json", json, "Print one JSON document instead of tab-separated lines");
    history->add_option("--keep", keep, "Keep this many runs from the next run on (20 unless changed)")
        ->check(CLI::Range(1, 100000));
    history->footer(
        "Each line: the run's number, its start (UTC), the upgrade folder, the elements and files it "
        "changed, its state: complete, interrupted (it never ended), rolling back (a rollback never "
        "ended; run it again), rolled back, partly rolled back; and what was known of the upgrade: signed by key "
        "ID, intact, unverified (empty for runs recorded before upgrades were checked).");
    history->callback([&status] { status = PrintHistory(suite, json, keep); });

    static bool force = false;
    static std::optional<int64_t> run;
    CLI::App* rollback =
        parent.add_subcommand("rollback", "Undo a recorded update run (the newest not undone by default)");
    rollback->add_option("--suite", suite, "Installation directory (holds ZARNIX32.INI)")->required();
    rollback->add_flag("--force", force, "Also restore elements and files that were changed after the run");
    rollback->add_option("RUN", run, "The run's number, as history shows it");
    rollback->footer(
        "Exit status: 0 everything was restored, 1 conflicts were left (named on standard error), 2 "
        "nothing was done.");
    rollback->callback([&status] { status = RollBack(suite, run, force); });
}

}  // namespace zrx::cli
