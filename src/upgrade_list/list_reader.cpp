#include "upgrade_list/list_reader.h"

#include <array>

#include "base/dialogs.h"
#include "base/fields.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_file.h"
#include "base/text_utils.h"
#include "upgrade_list/list_format.h"

namespace zrx {

namespace {

using Failure = ListReadFailure::Kind;

// No real upgrade comes near this many records; a list beyond it is refused before it fills the
// memory.
constexpr int kMaxRecords = 500000;

struct ReadState {
    ListContents& contents;
    const std::string& folder;
    LoadedList& list;
    Failure failure = Failure::None;
    int lineNumber = 0;
    std::string unsafeText;
    std::string unsafeReason;
    // The names found safe last: records name the libraries of the records before them more often
    // than not.
    std::array<std::string, 4> recentSafe;
    size_t nextSafe = 0;
};

// A name that the run later uses as a path must stay a plain name.
bool CheckName(ReadState& state, std::string_view name) {
    for (const std::string& safe : state.recentSafe)
        if (!safe.empty() && name == safe) return true;
    if (const auto reason = UnsafeNameReason(name)) {
        state.failure = Failure::UnsafeName;
        state.unsafeText = name;
        state.unsafeReason = *reason;
        return false;
    }
    state.recentSafe[state.nextSafe++ % state.recentSafe.size()] = name;
    return true;
}

// The leading number of a field, rounded halves to even; a number beyond 32 bits is damage.
bool Number(ReadState& state, std::string_view field, int32_t& value) {
    const auto number = LeadingInteger(field);
    if (!number) {
        state.failure = Failure::Unreadable;
        return false;
    }
    value = *number;
    return true;
}

// `Fields` is a FieldList, or a PlainFieldList for the lines without double quotes.
template <typename Fields>
bool ReadRecord(ReadState& state, const Fields& f, size_t& readmeCount) {
    ListContents& contents = state.contents;
    LoadedList& list = state.list;
    const int type = RecordTypeOf(f.Value(1));
    switch (type) {
        case kHeaderRecord: {
            if (f.Count() < 2) return state.failure = Failure::Unreadable, false;
            if (!IsAcceptedHeaderField(f.Field(2))) return state.failure = Failure::WrongHeader, false;
            if (f.Count() < 7) return state.failure = Failure::Unreadable, false;
            // An empty library name (or one of blanks only) is taken as empty: the elements of that
            // kind then fail one by one when their library cannot be opened.
            for (int k = 0; k < 6; ++k)
                if (!TrimmedBlanks(f.Field(k + 2)).empty() && !CheckName(state, f.Field(k + 2))) return false;
            for (int k = 0; k < 6; ++k) {
                const std::string_view name = f.Field(k + 2);
                contents.libraries[static_cast<size_t>(k)] =
                    JoinPath(state.folder, TrimmedBlanks(name).empty() ? std::string_view() : name);
            }
            contents.headerRead = true;
            return true;
        }
        case kPartRecord:
        case kSymbolRecord:
        case kPackageRecord:
        case kSparamRecord:
        case kMparamRecord: {
            if (f.Count() < (type == kSymbolRecord ? 6 : 5)) return state.failure = Failure::Unreadable, false;
            if (!CheckName(state, f.Field(5))) return false;
            LoadedList::Record* record = list.Add(type, f.Field(4));
            if (record == nullptr) return state.failure = Failure::TooMuchText, false;
            if (!Number(state, f.Field(2), record->withheld) || !Number(state, f.Field(3), record->destKind))
                return false;
            record->targetLib = list.Text(f.Field(5));
            if (type == kSymbolRecord) record->extra = list.Text(TrimmedBlanks(f.Field(6)));
            return true;
        }
        case kDataFileRecord: {
            if (f.Count() < 4) return state.failure = Failure::Unreadable, false;
            if (!CheckName(state, f.Field(4))) return false;
            LoadedList::Record* added = list.Add(kDataFileRecord, f.Field(4));
            if (added == nullptr) return state.failure = Failure::TooMuchText, false;
            LoadedList::Record& record = *added;
            if (!Number(state, f.Field(3), record.destKind)) return false;
            const std::string ending(Right(ToUpper(TrimmedBlanks(f.Field(4))), 3));
            if (ending == "SBC" || ending == "TAL" || ending == "DAT")
                if (!Number(state, f.Field(2), record.withheld)) return false;
            // A subcircuit without a subdirectory (none, or blanks) goes into the subcircuit
            // directory itself.
            const bool subcircuit = ending == "SBC" && record.destKind == 9;
            if (f.Count() >= 5 && !f.Field(5).empty() && !(subcircuit && TrimmedBlanks(f.Field(5)).empty())) {
                if (subcircuit) {
                    if (!CheckName(state, TrimmedBlanks(f.Field(5)))) return false;
                    record.targetLib = list.Text(TrimmedBlanks(f.Field(5)));
                } else {
                    record.extra = list.Text(TrimmedBlanks(f.Field(5)));
                }
            }
            return true;
        }
        case kReadmeRecord: {
            if (f.Count() < 2) return state.failure = Failure::Unreadable, false;
            contents.readme.resize(readmeCount + 1);
            contents.readme[readmeCount++] = f.Field(2);
            return true;
        }
        default:
            return true;  // the end record and unknown types: reading goes on
    }
}

}  // namespace

ListReadFailure ReadListFile(const std::string& folder, ListContents& contents) {
    std::string why;
    const Directory opened = Directory::Open(folder.empty() ? "/" : folder,
                                             why);  // file-access: a folder a caller names, opened once here
    return ReadListFile(opened, folder, contents);
}

std::shared_ptr<const Directory> UpgradeFolder(LoadedUpgrade& upgrade, std::string& why) {
    if (!upgrade.Folder) {
        // An upgrade no load opened (a test's, a fuzz target's) is opened once, here.
        auto folder = std::make_shared<Directory>(  // file-access: opened once, then held
            Directory::Open(upgrade.UpgradeDir.empty() ? "/" : upgrade.UpgradeDir, why));
        if (!folder->IsOpen()) return nullptr;
        upgrade.Folder = std::move(folder);
    }
    return upgrade.Folder;
}

ListReadFailure ReadListFile(const Directory& folder, const std::string& folderPath, ListContents& contents) {
    ReadState state{contents, folderPath, contents.list, Failure::None, 0, {}, {}, {}, 0};
    size_t readmeCount = 0;
    auto input = folder.IsOpen() ? TextInput::OpenAt(folder, folder.Spelling(kListFileName)) : nullptr;
    if (!input) {
        state.failure = Failure::Unreadable;
    } else {
        std::string line;
        FieldList fields;
        PlainFieldList plain;
        while (input->ReadLine(line)) {
            if (++state.lineNumber > kMaxRecords) {
                state.failure = Failure::TooLarge;
                break;
            }
            bool read;
            if (plain.Split(line, ',')) {
                read = ReadRecord(state, plain, readmeCount);
            } else {
                SplitInto(line, ',', fields);
                read = ReadRecord(state, fields, readmeCount);
            }
            if (!read) break;
        }
        if (state.failure == Failure::None && input->LineTooLong()) state.failure = Failure::Unreadable;
    }
    return {state.failure, state.lineNumber, state.unsafeText, state.unsafeReason};
}

std::string ListFailureText(const ListReadFailure& failure, const std::string& listPath) {
    switch (failure.kind) {
        case Failure::None: return {};
        case Failure::WrongHeader: return "Wrong Format : " + listPath;
        case Failure::Unreadable: return "Make sure that Upgrade files are in the specified path :  " + listPath;
        case Failure::TooLarge:
            return "The upgrade list " + listPath + " holds more than " + std::to_string(kMaxRecords) +
                   " records; so large a list is not loaded. Nothing is offered from it.";
        case Failure::TooMuchText:
            return "The upgrade list " + listPath + " holds more text than can be loaded. Nothing is offered from it.";
        case Failure::UnsafeName:
            return "Unsafe name in the upgrade list " + listPath + ", line " + std::to_string(failure.line) + ": \"" +
                   Printable(failure.text) + "\" (" + failure.reason + "). Nothing is offered from this list.";
    }
    return {};
}

int ReadUpgradeList(LoadedUpgrade& upgrade, ui::Dialogs& dialogs) {
    upgrade.lists.Reset();
    const std::string listPath = JoinPath(upgrade.ListPath, kListFileName);
    // The records go into a list of their own that replaces the loaded one only when the whole
    // file was read: the grid goes on showing the rows of the list loaded before. The header's
    // libraries and the readme lines read before a failure stay.
    ListContents contents;
    std::string why;
    const auto folder = UpgradeFolder(upgrade, why);
    const ListReadFailure failure = folder ? ReadListFile(*folder, upgrade.UpgradeDir, contents)
                                           : ListReadFailure{Failure::Unreadable, 0, {}, {}};
    if (contents.headerRead) upgrade.UpgLibPath = contents.libraries;
    upgrade.ReadmeLines = std::move(contents.readme);
    switch (failure.kind) {
        case Failure::None:
            upgrade.loaded = std::move(contents.list);
            return 0;
        case Failure::WrongHeader:
            ShowErrorByCode(dialogs, 19, listPath);
            break;
        case Failure::Unreadable:
            ShowErrorByCode(dialogs, 9, listPath);
            break;
        default:
            ShowWarning(dialogs, ListFailureText(failure, listPath));
            break;
    }
    return 1;
}

void AssignTargetDirs(LoadedList& list, const Environment& env) {
    auto& records = list.Records(kDataFileRecord);
    for (size_t i = 0; i < records.size(); ++i)
        records[i].targetDir = list.Text(TargetDirForCode(records[i].destKind, env));
}

}  // namespace zrx
