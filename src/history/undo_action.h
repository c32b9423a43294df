#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "history/rollback.h"

namespace zrx {

class ChangeColumn;
struct Environment;
namespace ui {
class Dialogs;
class SummaryForm;
}  // namespace ui

// "Undo this update" in the summary window of recorded run `run` (0: the run changed nothing, and
// nothing is offered); once it has brought something back it is offered no more, the grid's
// changes are worked out again and `undone` is told what became of the run's changes.
void ConnectUndo(ui::SummaryForm& form, ui::Dialogs& dialogs, const Environment& env, int64_t run,
                 ChangeColumn& changes, std::function<void(const history::RollbackResult&)> undone);

// After a confirmation, rolls back recorded run `run` (the caller holds the installation's lock)
// and says what came of it; nothing when the user declined.
std::optional<history::RollbackResult> P_Undo_Click(ui::Dialogs& dialogs, const Environment& env, int64_t run);

}  // namespace zrx
