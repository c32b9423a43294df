#include "upgrade_list/list_reader.h"

#include "shell/app.h"
#include "shell/fields.h"
#include "shell/messages.h"
#include "shell/paths.h"
#include "shell/text_file.h"
#include "shell/text_utils.h"
#include "ui/dialogs.h"
#include "upgrade_list/list_format.h"

namespace zrx {

namespace {

enum class Failure { None, WrongHeader, Unreadable, UnsafeName, TooLarge };

// No real upgrade comes near this many records; a list beyond it is refused before it fills the
// memory.
constexpr int kMaxRecords = 500000;

struct ReadState {
    App& app;
    Failure failure = Failure::None;
    int lineNumber = 0;
    std::string unsafeText;
    std::string unsafeReason;
};

// A name that the run later uses as a path must stay a plain name.
bool CheckName(ReadState& state, std::string_view name) {
    if (const auto reason = UnsafeNameReason(name)) {
        state.failure = Failure::UnsafeName;
        state.unsafeText = name;
        state.unsafeReason = *reason;
        return false;
    }
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

template <typename Item>
Item& Append(std::vector<Item>& list, size_t& count) {
    list.resize(count + 1);
    return list[count++];
}

bool ReadRecord(ReadState& state, const FieldList& f, size_t counts[8]) {
    App& app = state.app;
    switch (RecordTypeOf(f.Value(1))) {
        case kHeaderRecord: {
            if (f.Count() < 2) return state.failure = Failure::Unreadable, false;
            if (!IsAcceptedHeaderField(f.Field(2))) return state.failure = Failure::WrongHeader, false;
            if (f.Count() < 7) return state.failure = Failure::Unreadable, false;
            // An empty library name is taken as it stands: the elements of that kind then fail one
            // by one when their library cannot be opened.
            for (int k = 0; k < 6; ++k)
                if (!f.Field(k + 2).empty() && !CheckName(state, f.Field(k + 2))) return false;
            for (int k = 0; k < 6; ++k) app.UpgLibPath[static_cast<size_t>(k)] = JoinPath(app.ListPath, f.Field(k + 2));
            return true;
        }
        case kPartRecord:
        case kSymbolRecord:
        case kPackageRecord:
        case kSparamRecord:
        case kMparamRecord: {
            const int type = RecordTypeOf(f.Value(1));
            if (f.Count() < (type == kSymbolRecord ? 6 : 5)) return state.failure = Failure::Unreadable, false;
            if (!CheckName(state, f.Field(5))) return false;
            std::vector<ElementItem>& list = type == kPartRecord      ? app.lists.PartItems
                                             : type == kSymbolRecord  ? app.lists.SymbolItems
                                             : type == kPackageRecord ? app.lists.PackageItems
                                             : type == kSparamRecord  ? app.lists.SpiceModelItems
                                                                      : app.lists.MixedModelItems;
            ElementItem& item = Append(list, counts[type]);
            if (!Number(state, f.Field(2), item.Withheld) || !Number(state, f.Field(3), item.DestKind)) return false;
            item.Name = f.Field(4);
            item.TargetLib = f.Field(5);
            if (type == kSymbolRecord) item.UpgSymbolLib = TrimBlanks(f.Field(6));
            return true;
        }
        case kDataFileRecord: {
            if (f.Count() < 4) return state.failure = Failure::Unreadable, false;
            if (!CheckName(state, f.Field(4))) return false;
            DataFileItem& item = Append(app.lists.DataFileItems, counts[kDataFileRecord]);
            item.Name = f.Field(4);
            item.TargetDir = f.Field(4);
            if (!Number(state, f.Field(3), item.DestKind)) return false;
            const std::string ending(Right(ToUpper(TrimmedBlanks(f.Field(4))), 3));
            if (ending == "SBC" || ending == "TAL" || ending == "DAT")
                if (!Number(state, f.Field(2), item.Withheld)) return false;
            const bool subcircuit = ending == "SBC" && item.DestKind == 9;
            if (subcircuit && (f.Count() < 5 || f.Field(5).empty()))
                return CheckName(state, "");  // a subcircuit for a subdirectory names one
            if (f.Count() >= 5 && !f.Field(5).empty()) {
                if (subcircuit) {
                    if (!CheckName(state, TrimBlanks(f.Field(5)))) return false;
                    item.TargetLib = TrimBlanks(f.Field(5));
                } else {
                    item.FileType = TrimBlanks(f.Field(5));
                }
            }
            return true;
        }
        case kReadmeRecord: {
            if (f.Count() < 2) return state.failure = Failure::Unreadable, false;
            Append(app.ReadmeLines, counts[kReadmeRecord]) = f.Field(2);
            return true;
        }
        default:
            return true;  // the end record and unknown types: reading goes on
    }
}

// How many records of each type the list holds, by a quick first pass over it, so that the
// per-kind lists get their room at once instead of growing (and copying) as they fill. A count
// is only a size to reserve: a list that changes between the passes is still read correctly.
void ReserveForRecords(App& app, const std::string& path) {
    auto input = TextInput::Open(path);
    if (!input) return;
    size_t counts[8] = {};
    std::string line;
    FieldList fields;
    for (int lines = 0; lines < kMaxRecords && input->ReadLine(line); ++lines) {
        float type;
        if (const auto first = PlainField(line, ',', 1)) {
            type = static_cast<float>(FieldValue(*first));
        } else {
            SplitInto(line, ',', fields);
            type = fields.Value(1);
        }
        const int record = RecordTypeOf(type);
        if (record >= 0 && record < 8) ++counts[record];
    }
    UpgradeLists& l = app.lists;
    l.PartItems.reserve(counts[kPartRecord]);
    l.SymbolItems.reserve(counts[kSymbolRecord]);
    l.PackageItems.reserve(counts[kPackageRecord]);
    l.SpiceModelItems.reserve(counts[kSparamRecord]);
    l.MixedModelItems.reserve(counts[kMparamRecord]);
    l.DataFileItems.reserve(counts[kDataFileRecord]);
}

}  // namespace

int ReadUpgradeList(App& app) {
    app.lists.Reset();
    app.ReadmeLines.assign(1, std::string());
    const std::string listPath = JoinPath(app.ListPath, kListFileName);
    ReadState state{app, Failure::None, 0, {}, {}};
    size_t counts[8] = {};

    const std::string resolved = ResolveNameInDir(app.ListPath.empty() ? "/" : app.ListPath, kListFileName);
    ReserveForRecords(app, resolved);
    auto input = TextInput::Open(resolved);
    if (!input) {
        state.failure = Failure::Unreadable;
    } else {
        std::string line;
        FieldList fields;
        while (input->ReadLine(line)) {
            if (++state.lineNumber > kMaxRecords) {
                state.failure = Failure::TooLarge;
                break;
            }
            SplitInto(line, ',', fields);
            if (!ReadRecord(state, fields, counts)) break;
        }
        if (state.failure == Failure::None && input->LineTooLong()) state.failure = Failure::Unreadable;
    }
    switch (state.failure) {
        case Failure::None: return 0;
        case Failure::WrongHeader: ShowErrorByCode(app.dialogs, 19, listPath); break;
        case Failure::Unreadable: ShowErrorByCode(app.dialogs, 9, listPath); break;
        case Failure::TooLarge:
            app.dialogs.ShowMessage({"The upgrade list " + listPath + " holds more than " + std::to_string(kMaxRecords) +
                                         " records; so large a list is not loaded. Nothing is offered from it.",
                                     std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
            break;
        case Failure::UnsafeName:
            app.dialogs.ShowMessage({"Unsafe name in the upgrade list " + listPath + ", line " +
                                         std::to_string(state.lineNumber) + ": \"" + Printable(state.unsafeText) +
                                         "\" (" + state.unsafeReason + "). Nothing is offered from this list.",
                                     std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
            break;
    }
    return 1;
}

void AssignTargetDirs(App& app) {
    for (DataFileItem& item : app.lists.DataFileItems) item.TargetDir = TargetDirForCode(item.DestKind, app.env);
}

}  // namespace zrx
