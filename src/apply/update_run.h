#pragma once

#include <string>
#include <vector>

#include "apply/run_record_hooks.h"

namespace zrx {

class App;

// "Update" on the update page: after one question, copies every selected element of the loaded
// upgrade in a fixed order and ends in the summary window.
void UpdateLibraries(App& app);
// Every element of the six lists not copied (yet).
void ResetCopyStatus(App& app);

// One more selected element or file dealt with by the run: shown as "i of n" beside the status.
void CountRunElement(App& app);

// A change the run's record could not take (and that was therefore not made): said once per reason
// and run.
void NoteNotRecorded(App& app, const std::string& why);

// Saves the kernel reported done that did not reach the disk: the elements they belong to (by
// their kind's target library, resolved as the run does, and their name) are not copied after all;
// one box names them.
void MarkLostSaves(App& app, const std::vector<FailedSave>& failed);

void ConnectUpdatePage(App& app);

}  // namespace zrx
