#pragma once

#include <cstdint>

namespace zrx {

class ChangeColumn;
struct Environment;
namespace ui {
class Dialogs;
class SummaryForm;
}  // namespace ui

// "Undo this update" in the summary window of recorded run `run` (0: the run changed nothing, and
// nothing is offered); once it has brought something back it is offered no more and the grid's
// changes are worked out again.
void ConnectUndo(ui::SummaryForm& form, ui::Dialogs& dialogs, const Environment& env, int64_t run,
                 ChangeColumn& changes);

// After a confirmation, rolls back recorded run `run` (the caller holds the installation's lock)
// and says what came of it. True when something was brought back.
bool P_Undo_Click(ui::Dialogs& dialogs, const Environment& env, int64_t run);

}  // namespace zrx
