#pragma once

#include "ui/file_system_lists.h"
#include "ui/form.h"
#include "ui/grid.h"

namespace zrx::ui {

// INSTINF, the main window: the load page, the selection page, the update page, and in builder mode
// the element frames and the build frame, with the builder's menus.
class MainForm : public Form {
public:
    MainForm();

    // ---- F_lstfrm: choose the folder that holds Upgrade.lst --------------------------------
    Frame F_lstfrm{"F_lstfrm"};
    Button F_lstok{"F_lstok", -1, "OK", "4424"};
    DriveList F_lstDrive{"F_lstDrive"};
    DirList F_lstdir{"F_lstdir"};
    FileList F_lstfile{"F_lstfile"};
    Label F_Displbl{"F_Displbl"};
    // Beyond the form's own controls: what is known of the chosen upgrade (signed, intact,
    // unverified, tampered) before it is loaded.
    Label P_UpgradeState{"P_UpgradeState"};

    // ---- F_Msg: the newly available elements -----------------------------------------------
    Frame F_Msg{"F_Msg"};
    Grid F_Preferen{"F_Preferen"};
    Button F_Info{"F_Info", -1, "Info", "444"};
    Button F_Proceed{"F_Proceed", -1, "Next  >>", "11171"};
    Label F_MsgBar{"F_MsgBar", "Listing of newly available library elements."};
    // Beyond the form's own controls: leaves every row that would change nothing out.
    Button P_SameToNo{"P_SameToNo", -1, "Set unchanged rows to NO", "20021"};
    // The details of the grid's current row, side by side (program/details_window.h).
    Button P_Details{"P_Details", -1, "Details", "20074"};
    Button P_EditedToNo{"P_EditedToNo", -1, "Set edited rows to NO", "20080"};
    // On the update page: leave the rows edited here since the last upgrade as they are.
    CheckBox P_KeepEdited{"P_KeepEdited", -1, "Keep what was edited here since the last upgrade", "20082"};
    CheckBox P_MergeEdited{"P_MergeEdited", -1, "Merge the upgrade's changes into what was edited here",
                           "20084"};

    // ---- F_Deffrm: the update run ----------------------------------------------------------
    Frame F_Deffrm{"F_Deffrm"};
    Button F_Update{"F_Update", -1, "Update", "448"};
    Button F_Cancel{"F_Cancel", -1, "<<  Back"};
    ControlArray<OptionButton> F_OverPrompt;
    Label Label1{"Label1", "Copying Status :"};
    Label F_Status{"F_Status", "", Label::Style::Status};

    // Buttons that occur on several frames.
    ControlArray<Button> F_Help;  // 1 load page, 2 selection page, 4 update page
    ControlArray<Button> F_Exit;  // 0 selection page, 1 update page, 2 load page

    // ---- F_Format: the builder's element frames --------------------------------------------
    Frame F_Format{"F_Format"};
    ControlArray<Frame> F_Details;
    // Parts
    FileList F_EDLlist{"F_EDLlist"};
    ListBox F_Devitem{"F_Devitem", ListBox::Selection::Extended};
    ListBox F_Devlist{"F_Devlist"};
    Button F_Move{"F_Move", -1, ">>"};
    Button F_Remitem{"F_Remitem", -1, "<<"};
    // Symbols
    FileList F_ESLlist{"F_ESLlist"};
    ListBox F_Smbitem{"F_Smbitem", ListBox::Selection::Extended};
    ListBox F_Slist{"F_Slist"};
    Button F_Smbmove{"F_Smbmove", -1, ">>"};
    Button F_Remsmb{"F_Remsmb", -1, "<<"};
    // Packages
    FileList F_ELLList{"F_ELLList"};
    ListBox F_Layitem{"F_Layitem", ListBox::Selection::Extended};
    ListBox F_llist{"F_llist"};
    Button F_Laymove{"F_Laymove", -1, ">>"};
    Button F_Remlsmb{"F_Remlsmb", -1, "<<"};
    // SPARAM models
    FileList F_Smlilist{"F_Smlilist"};
    ListBox F_Smlitem{"F_Smlitem", ListBox::Selection::Extended};
    ListBox F_Smldlist{"F_Smldlist"};
    Button F_SMLMove{"F_SMLMove", -1, ">>"};
    Button F_Remsml{"F_Remsml", -1, "<<"};
    // MPARAM models
    FileList F_MPLList{"F_MPLList"};
    ListBox F_MPLlitem{"F_MPLlitem", ListBox::Selection::Extended};
    ListBox F_Mpldlist{"F_Mpldlist"};
    Button F_MPLMove{"F_MPLMove", -1, ">>"};
    Button F_RemMpl{"F_RemMpl", -1, "<<"};
    // Subcircuit files
    DriveList F_sbcdrive{"F_sbcdrive"};
    DirList F_sbcdir{"F_sbcdir"};
    FileList F_SBCItem{"F_SBCItem", ListBox::Selection::Extended};
    ListBox F_SBCList{"F_SBCList"};
    Button F_Sbcmove{"F_Sbcmove", -1, ">>"};
    Button F_Remsbc{"F_Remsbc", -1, "<<"};
    // Thermal library components, thermal library source, profile files
    FileList F_Thermtal{"F_Thermtal", ListBox::Selection::Extended};
    ListBox F_Tallist{"F_Tallist"};
    Button F_Talmove{"F_Talmove", -1, ">>"};
    Button F_RemTal{"F_RemTal", -1, "<<"};
    FileList F_Thermdat{"F_Thermdat", ListBox::Selection::Extended};
    ListBox F_Datlist{"F_Datlist"};
    Button F_Datmove{"F_Datmove", -1, ">>"};
    Button F_Remdat{"F_Remdat", -1, "<<"};
    FileList F_Profitem{"F_Profitem", ListBox::Selection::Extended};
    ListBox F_ProfList{"F_ProfList"};
    Button F_SPCmove{"F_SPCmove", -1, ">>"};
    Button F_Remspc{"F_Remspc", -1, "<<"};
    // Any other file
    DriveList F_Miscdrive{"F_Miscdrive"};
    DirList F_MiscDir{"F_MiscDir"};
    FileList F_Miscitem{"F_Miscitem"};
    ListBox F_Mlist{"F_Mlist"};
    Button F_MiscMove{"F_MiscMove", -1, ">>"};
    Button F_RemMisc{"F_RemMisc", -1, "<<"};
    Label F_Syspathlbl{"F_Syspathlbl", "File to be placed on User's m/c under ..\\Zarnix"};
    ComboBox F_Syspath{"F_Syspath"};
    Label F_Filedesclbl{"F_Filedesclbl", "File description if any regarding type of file:"};
    TextBox F_Filedesc{"F_Filedesc", "Misc File"};

    // ---- F_chgfrm: destination and build ---------------------------------------------------
    Frame F_chgfrm{"F_chgfrm"};
    DriveList F_Drive{"F_Drive"};
    DirList F_Dir{"F_Dir"};
    Button F_Create{"F_Create", -1, "Build", "4450"};
    Button F_Terminate{"F_Terminate", -1, "Terminate", "4449"};
    Frame Frame3D2{"Frame3D2"};
    ControlArray<OptionButton> F_Clstfile;
    Label F_Destfmtpath{"F_Destfmtpath", "", Label::Style::Status};
    Label F_Destdpath{"F_Destdpath", "", Label::Style::Status};
    Label F_Destspath{"F_Destspath", "", Label::Style::Status};
    Label F_DestI_spath{"F_DestI_spath", "", Label::Style::Status};
    Label F_Destlpath{"F_Destlpath", "", Label::Style::Status};
    Label F_Destsmlpath{"F_Destsmlpath", "", Label::Style::Status};
    Label F_Destmplpath{"F_Destmplpath", "", Label::Style::Status};
    // Beyond the form's own controls: the minisign secret key that signs a build (empty: not
    // signed) and the zip file the finished upgrade is also written as (empty: none).
    TextBox P_SignKey{"P_SignKey"};
    TextBox P_ArchiveFile{"P_ArchiveFile"};

    // ---- Menus (builder mode only) ---------------------------------------------------------
    MenuItem M_File{"M_File", "&File"};
    ControlArray<MenuItem> M_Fileitems;
    MenuItem M_Sep{"M_Sep", "-", -1, true};
    MenuItem M_Upgload{"M_Upgload", "Load Upgrade.lst file "};
    MenuItem M_exit{"M_exit", "E&xit"};
    MenuItem M_Build{"M_Build", "&Build Upgrade"};

    // The five library frames and the five file frames, by their F_Details index.
    struct LibraryFrame {
        FileList* libraries;
        ListBox* elements;
        ListBox* chosen;
        Button* move;
        Button* remove;
    };
    LibraryFrame LibraryFrameOf(int kindIndex);
    // The chosen list of a file frame (F_Details 5 to 9).
    ListBox* FileFrameChosenList(int frameIndex);
};

}  // namespace zrx::ui
