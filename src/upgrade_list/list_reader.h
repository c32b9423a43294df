#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/dialogs.h"
#include "kernel/installation.h"
#include "upgrade_list/loaded_list.h"
#include "upgrade_list/loaded_upgrade.h"

namespace zrx {

// What reading an upgrade folder's Upgrade.lst gives: its records, the six upgrade library paths
// of its header (when one was read), and the readme lines (from 1; line 0 stays empty).
struct ListContents {
    LoadedList list;
    bool headerRead = false;
    std::array<std::string, 6> libraries;
    std::vector<std::string> readme{1};
};

// Why a list could not be read, and where. Missing: the list could not be opened at all.
struct ListReadFailure {
    enum class Kind { None, WrongHeader, Unreadable, UnsafeName, TooLarge, TooMuchText, Missing };
    Kind kind = Kind::None;
    int line = 0;
    std::string text, reason;  // an unsafe name and why
};

// The two readings of one grammar. Load: as the load page offers a list, every record to the
// file's end, each checked whole. Reload: as the builder takes a list back, to its end record;
// the header needs its second field only, an element record five fields, numbers only where the
// builder uses them (a data file's target code), readme records are passed over, and a data
// file's fifth field is kept as it stands (`extra`, with `fields` telling whether there is one):
// the builder's reload judges data files' names and fields by rules of its own.
enum class ListReading { Load, Reload };

// Reads `folder`'s Upgrade.lst (found exactly, then without regard to case). Returns the failure
// (Kind::None when the whole list was read); `contents` holds what was read up to it, each record
// with its line.
ListReadFailure ReadListFile(const std::string& folder, ListContents& contents);
// The same through an open folder (`folderPath` names it in the library paths).
ListReadFailure ReadListFile(const Directory& folder, const std::string& folderPath, ListContents& contents,
                             ListReading reading = ListReading::Load);

// The upgrade's folder as it was opened (UpgradeFolder), opened and held now when it was not.
Result<std::shared_ptr<const Directory>> UpgradeFolder(LoadedUpgrade& upgrade);
// The message box text of a failure, as the load page shows it (codes 9 and 19 aside).
std::string ListFailureText(const ListReadFailure& failure, const std::string& listPath);

// Reads the upgrade's Upgrade.lst (from UpgradeDir; ListPath names it in messages) into its loaded
// list, UpgLibPath and ReadmeLines. Returns the failure flag (1 failed, 0 read); a failure has
// shown its message.
int ReadUpgradeList(LoadedUpgrade& upgrade, ui::Dialogs& dialogs);

// Sets the target directory of every data file of `list` from its destination code.
void AssignTargetDirs(LoadedList& list, const Environment& env);

}  // namespace zrx
