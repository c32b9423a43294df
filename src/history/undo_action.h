#pragma once

namespace zrx {

class App;
namespace ui {
class SummaryForm;
}

// "Undo this update" in the summary window: after a confirmation, rolls back the run the summary
// shows and says what came of it. Offered only when the run changed something.
void ConnectUndo(App& app, ui::SummaryForm& form);
void P_Undo_Click(App& app, ui::SummaryForm& form);

}  // namespace zrx
