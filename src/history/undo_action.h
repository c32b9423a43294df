#pragma once

#include <cstdint>
#include <optional>

#include "history/rollback.h"

namespace zrx {

struct Environment;
namespace ui {
class Dialogs;
}  // namespace ui

// After a confirmation, rolls back recorded run `run` (the caller holds the installation's lock)
// and says what came of it; nothing when the user declined.
std::optional<history::RollbackResult> P_Undo_Click(ui::Dialogs& dialogs, const Environment& env, int64_t run);

}  // namespace zrx
