#include "upgrade_list/list_reader.h"

#include <algorithm>
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

using ReadFailure = ListReadFailure::Kind;

// No real upgrade comes near this many records; a list beyond it is refused before it fills the
// memory.
constexpr int kMaxRecords = 500000;

struct ReadState {
    ListContents& contents;
    const std::string& folder;
    LoadedList& list;
    ListReading reading;
    ReadFailure failure = ReadFailure::None;
    bool ended = false;  // the end record, where the reading stops there
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
        state.failure = ReadFailure::UnsafeName;
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
        state.failure = ReadFailure::Unreadable;
        return false;
    }
    value = *number;
    return true;
}

// A new record of a type with its line and field count; nothing (the failure noted) when the list
// can hold no more text.
template <typename Fields>
LoadedList::Record* AddRecord(ReadState& state, const Fields& f, int type, std::string_view name) {
    LoadedList::Record* record = state.list.Add(type, name);
    if (record == nullptr) {
        state.failure = ReadFailure::TooMuchText;
        return nullptr;
    }
    record->line = static_cast<uint32_t>(state.lineNumber);
    record->fields = static_cast<uint8_t>(std::min(f.Count(), 255));
    return record;
}

template <typename Fields>
bool ReadHeader(ReadState& state, const Fields& f) {
    ListContents& contents = state.contents;
    if (f.Count() < 2) return state.failure = ReadFailure::Unreadable, false;
    if (!IsAcceptedHeaderField(f.Field(2))) return state.failure = ReadFailure::WrongHeader, false;
    if (state.reading == ListReading::Reload) return true;  // the builder writes its own header
    if (f.Count() < 7) return state.failure = ReadFailure::Unreadable, false;
    // An empty library name (or one of blanks only) is taken as empty: the elements of that kind
    // then fail one by one when their library cannot be opened.
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

template <typename Fields>
bool ReadElement(ReadState& state, const Fields& f, int type) {
    const bool load = state.reading == ListReading::Load;
    if (f.Count() < (type == kSymbolRecord && load ? 6 : 5))
        return state.failure = ReadFailure::Unreadable, false;
    if (!CheckName(state, f.Field(5))) return false;
    // The builder takes back names and libraries; the numbers it writes anew.
    int32_t withheld = 0, destKind = 0;
    if (load && (!Number(state, f.Field(2), withheld) || !Number(state, f.Field(3), destKind))) return false;
    LoadedList::Record* record = AddRecord(state, f, type, f.Field(4));
    if (record == nullptr) return false;
    record->withheld = withheld;
    record->destKind = destKind;
    record->targetLib = state.list.Text(f.Field(5));
    if (type == kSymbolRecord && f.Count() >= 6) record->extra = state.list.Text(TrimmedBlanks(f.Field(6)));
    return true;
}

template <typename Fields>
bool ReadDataFile(ReadState& state, const Fields& f) {
    if (f.Count() < 4) return state.failure = ReadFailure::Unreadable, false;
    const bool load = state.reading == ListReading::Load;
    if (load && !CheckName(state, f.Field(4))) return false;
    int32_t destKind = 0;
    if (!Number(state, f.Field(3), destKind)) return false;
    const std::string ending(Right(ToUpper(TrimmedBlanks(f.Field(4))), 3));
    int32_t withheld = 0;
    if (load && (ending == "SBC" || ending == "TAL" || ending == "DAT") && !Number(state, f.Field(2), withheld))
        return false;
    LoadedList::Record* added = AddRecord(state, f, kDataFileRecord, f.Field(4));
    if (added == nullptr) return false;
    LoadedList::Record& record = *added;
    record.destKind = destKind;
    record.withheld = withheld;
    if (!load) {
        if (f.Count() >= 5) record.extra = state.list.Text(f.Field(5));
        return true;
    }
    // A subcircuit without a subdirectory (none, or blanks) goes into the subcircuit directory
    // itself.
    const bool subcircuit = ending == "SBC" && record.destKind == 9;
    if (f.Count() >= 5 && !f.Field(5).empty() && !(subcircuit && TrimmedBlanks(f.Field(5)).empty())) {
        if (subcircuit) {
            if (!CheckName(state, TrimmedBlanks(f.Field(5)))) return false;
            record.targetLib = state.list.Text(TrimmedBlanks(f.Field(5)));
        } else {
            record.extra = state.list.Text(TrimmedBlanks(f.Field(5)));
        }
    }
    return true;
}

// `Fields` is a FieldList, or a PlainFieldList for the lines without double quotes.
template <typename Fields>
bool ReadRecord(ReadState& state, const Fields& f, size_t& readmeCount) {
    ListContents& contents = state.contents;
    const int type = RecordTypeOf(f.Value(1));
    switch (type) {
        case kHeaderRecord: return ReadHeader(state, f);
        case kPartRecord:
        case kSymbolRecord:
        case kPackageRecord:
        case kSparamRecord:
        case kMparamRecord: return ReadElement(state, f, type);
        case kDataFileRecord: return ReadDataFile(state, f);
        case kReadmeRecord: {
            if (state.reading == ListReading::Reload) return true;  // the builder writes its own
            if (f.Count() < 2) return state.failure = ReadFailure::Unreadable, false;
            contents.readme.resize(readmeCount + 1);
            contents.readme[readmeCount++] = f.Field(2);
            return true;
        }
        case kEndRecord:
            // Loading reads on to the file's end; the builder's reload stops here.
            state.ended = state.reading == ListReading::Reload;
            return true;
        default:
            return true;  // unknown types: reading goes on
    }
}

}  // namespace

ListReadFailure ReadListFile(const std::string& folder, ListContents& contents) {
    // file-access: a folder a caller names, opened once here
    const auto opened = Directory::Open(folder.empty() ? "/" : folder);
    if (!opened) return ReadListFile(Directory(), folder, contents);
    return ReadListFile(*opened, folder, contents);
}

Result<std::shared_ptr<const Directory>> UpgradeFolder(LoadedUpgrade& upgrade) {
    if (!upgrade.Folder) {
        // An upgrade no load opened (a test's, a fuzz target's) is opened once, here.
        // file-access: opened once, then held
        auto folder = Directory::Open(upgrade.UpgradeDir.empty() ? "/" : upgrade.UpgradeDir);
        if (!folder) return Failure{folder.Why()};
        upgrade.Folder = std::make_shared<Directory>(std::move(*folder));
    }
    return upgrade.Folder;
}

ListReadFailure ReadListFile(const Directory& folder, const std::string& folderPath, ListContents& contents,
                             ListReading reading) {
    ReadState state{contents, folderPath, contents.list, reading};
    size_t readmeCount = 0;
    auto input = folder.IsOpen() ? TextInput::OpenAt(folder, folder.Spelling(kListFileName)) : nullptr;
    if (!input) {
        state.failure = ReadFailure::Missing;
    } else {
        std::string_view line;  // the reader's buffer, until the next line is read
        FieldList fields;
        PlainFieldList plain;
        while (input->ReadLine(line)) {
            if (++state.lineNumber > kMaxRecords) {
                state.failure = ReadFailure::TooLarge;
                break;
            }
            bool read;
            if (plain.Split(line, ',')) {
                read = ReadRecord(state, plain, readmeCount);
            } else {
                SplitInto(line, ',', fields);
                read = ReadRecord(state, fields, readmeCount);
            }
            if (!read || state.ended) break;
        }
        if (state.failure == ReadFailure::None && input->LineTooLong())
            state.failure = ReadFailure::Unreadable;
    }
    return {state.failure, state.lineNumber, state.unsafeText, state.unsafeReason};
}

std::string ListFailureText(const ListReadFailure& failure, const std::string& listPath) {
    switch (failure.kind) {
        case ReadFailure::None:
            return {};
        case ReadFailure::WrongHeader:
            return "Wrong Format : " + listPath;
        case ReadFailure::Missing:
        case ReadFailure::Unreadable:
            return "Make sure that Upgrade files are in the specified path :  " + listPath;
        case ReadFailure::TooLarge:
            return "The upgrade list " + listPath + " holds more than " + std::to_string(kMaxRecords) +
                   " records; so large a list is not loaded. Nothing is offered from it.";
        case ReadFailure::TooMuchText:
            return "The upgrade list " + listPath + " holds more text than can be loaded. Nothing is offered from it.";
        case ReadFailure::UnsafeName:
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
    const auto folder = UpgradeFolder(upgrade);
    const ListReadFailure failure = folder ? ReadListFile(**folder, upgrade.UpgradeDir, contents)
                                           : ListReadFailure{ReadFailure::Missing, 0, {}, {}};
    if (contents.headerRead) upgrade.UpgLibPath = contents.libraries;
    upgrade.ReadmeLines = std::move(contents.readme);
    switch (failure.kind) {
        case ReadFailure::None:
            upgrade.loaded = std::move(contents.list);
            return 0;
        case ReadFailure::WrongHeader:
            ShowErrorByCode(dialogs, 19, listPath);
            break;
        case ReadFailure::Missing:
        case ReadFailure::Unreadable:
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
