#include "builder/list_reload.h"

#include "builder/builder_lists.h"
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

enum class Failure { None, WrongHeader, NotFound, UnsafeName };

void EmptyBuilder(App& app) {
    app.builder.Reset();
    ui::MainForm& m = app.main;
    for (ui::ListBox* list : {&m.F_Devlist, &m.F_Slist, &m.F_llist, &m.F_Smldlist, &m.F_Mpldlist, &m.F_Mlist,
                              &m.F_Tallist, &m.F_Datlist, &m.F_ProfList, &m.F_SBCList})
        list->Clear();
    app.lists.Reset();
    app.GridRows.Clear();
    app.loaded.Clear();
}

int KindIndexOfRecord(int type) {
    switch (type) {
        case kPartRecord: return 0;
        case kSymbolRecord: return 1;
        case kPackageRecord: return 2;
        case kSparamRecord: return 3;
        default: return 4;
    }
}

}  // namespace

void ReloadUpgradeListIntoBuilder(App& app) {
    if (!AskYesNo(app.dialogs,
                  "The  Lstfile load process will remove already  selected lib elements,if any?Are you sure you "
                  "want to load?"))
        return;
    const std::string listPath = JoinPath(app.ListPath, kListFileName);
    Failure failure = Failure::None;
    int lineNumber = 0;
    std::string unsafe;
    auto input = TextInput::Open(ResolveNameInDir(app.ListPath.empty() ? "/" : app.ListPath, kListFileName));
    if (!input) {
        failure = Failure::NotFound;
    } else {
        EmptyBuilder(app);
        ui::MainForm& m = app.main;
        BuilderTables& t = app.builder;
        auto checkName = [&](std::string_view name) {
            if (!UnsafeNameReason(name)) return true;
            failure = Failure::UnsafeName;
            unsafe = name;
            return false;
        };
        std::string line;
        FieldList f;
        bool ended = false;
        while (!ended && failure == Failure::None && input->ReadLine(line)) {
            ++lineNumber;
            SplitInto(line, ',', f);
            const int type = RecordTypeOf(f.Value(1));
            switch (type) {
                case kHeaderRecord:
                    if (f.Count() < 2) failure = Failure::NotFound;
                    else if (!IsAcceptedHeaderField(f.Field(2))) failure = Failure::WrongHeader;
                    break;
                case kPartRecord:
                case kSymbolRecord:
                case kPackageRecord:
                case kSparamRecord:
                case kMparamRecord: {
                    if (f.Count() < 5) {
                        failure = Failure::NotFound;
                        break;
                    }
                    if (!checkName(f.Field(5))) break;
                    const LibraryKindTables kind = TablesOfKind(app, KindIndexOfRecord(type));
                    kind.chosenList->AddItem(TrimBlanks(f.Field(4)));
                    UpgElement& element = AppendEntry(*kind.chosen);
                    element.Name = f.Field(4);
                    element.SourceIndex = LinkSourceLib(*kind.sources, *kind.directory, std::string(f.Field(5)), true);
                    break;
                }
                case kDataFileRecord: {
                    if (f.Count() < 4) {
                        failure = Failure::NotFound;
                        break;
                    }
                    if (!checkName(f.Field(4))) break;
                    const std::string ending(Right(ToUpper(f.Field(4)), 4));
                    const std::string shown = TrimBlanks(f.Field(4));
                    if (ending == ".DAT") {
                        m.F_Datlist.AddItem(shown);
                        AppendEntry(t.UpgDatFiles) = UpgDataFile{std::string(f.Field(4)), 0, 2};
                    } else if (ending == ".TAL") {
                        m.F_Tallist.AddItem(shown);
                        AppendEntry(t.UpgTalFiles) = UpgDataFile{std::string(f.Field(4)), 0, 1};
                    } else if (ending == ".SPC") {
                        m.F_ProfList.AddItem(shown);
                        AppendEntry(t.UpgSpcFiles) = UpgDataFile{std::string(f.Field(4)), 0, 3};
                    } else if (ending == ".SBC") {
                        const auto code = LeadingInteger(f.Field(3));
                        if (f.Count() < 5 || !code) {
                            failure = Failure::NotFound;
                            break;
                        }
                        if (!checkName(f.Field(5))) break;
                        m.F_SBCList.AddItem(shown);
                        AppendEntry(t.UpgSbcFiles) =
                            UpgSbcFile{std::string(f.Field(5)), std::string(f.Field(4)), 0, *code,
                                       JoinPath(app.env.ZSMsbk, f.Field(5))};
                    }
                    break;  // miscellaneous files are chosen again, not reloaded
                }
                case kEndRecord: ended = true; break;
                default: break;
            }
        }
        if (failure == Failure::None && input->LineTooLong()) failure = Failure::NotFound;
    }
    if (failure == Failure::None) return;
    switch (failure) {
        case Failure::WrongHeader: ShowErrorByCode(app.dialogs, 19, listPath); break;
        case Failure::UnsafeName:
            app.dialogs.ShowMessage({"Unsafe name in the upgrade list " + listPath + ", line " +
                                         std::to_string(lineNumber) + ": \"" + Printable(unsafe) + "\"",
                                     std::string(kAppTitle), ui::Icon::Warning, ui::Buttons::Ok, false});
            break;
        default: ShowErrorByCode(app.dialogs, 14, listPath); break;
    }
    app.ListPath.clear();
}

}  // namespace zrx
