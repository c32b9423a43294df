#include "history/undo_action.h"

#include "base/dialogs.h"
#include "base/messages.h"
#include "history/rollback.h"

namespace zrx {

std::optional<history::RollbackResult> P_Undo_Click(ui::Dialogs& dialogs, const Environment& env, int64_t run) {
    if (!AskYesNo(dialogs,
                  GetLocalMessage("Undo this update? Every element and file it changed goes back to what "
                                  "it was; what was changed since the update is left alone.",
                                  20041)))
        return std::nullopt;
    dialogs.SetBusy(true);
    // The summary is shown while the run still holds the installation's lock.
    const history::RollbackResult result = history::Rollback(env, run, false, true);
    dialogs.SetBusy(false);
    std::string text;
    ui::Icon icon = ui::Icon::Information;
    switch (result.outcome) {
        case history::RollbackResult::Outcome::Restored:
            text = GetLocalMessage("The update was undone. Changes taken back:", 20042) + " " +
                   std::to_string(result.restored);
            break;
        case history::RollbackResult::Outcome::Conflicts: {
            text = GetLocalMessage(
                "The update was undone in part. These were left alone, each for the reason given (zrxlibug-cli "
                "rollback --force also restores what was changed after the update):",
                20043);
            for (size_t i = 0; i < result.conflicts.size() && i < 20; ++i)
                text += "\r\n" + result.conflicts[i];
            if (result.conflicts.size() > 20)
                text += "\r\n... " + std::to_string(result.conflicts.size() - 20);
            icon = ui::Icon::Warning;
            break;
        }
        case history::RollbackResult::Outcome::NothingDone:
            text = GetLocalMessage("The update could not be undone:", 20044) + " " + result.message;
            icon = ui::Icon::Warning;
            break;
    }
    dialogs.ShowMessage({text, std::string(kAppTitle), icon, ui::Buttons::Ok, false});
    return result;
}

}  // namespace zrx
