#include "ui/forms/main_form.h"

namespace zrx::ui {

MainForm::MainForm() : Form("INSTINF", "Zarnix Library Upgrade Utility ") {
    F_Help.Add(1, "F_Help", 1, "Help", "4483");
    F_Help.Add(2, "F_Help", 2, "Help", "4483");
    F_Help.Add(4, "F_Help", 4, "Help", "4483");
    F_Exit.Add(0, "F_Exit", 0, "Close", "99670");
    F_Exit.Add(1, "F_Exit", 1, "Close", "99670");
    F_Exit.Add(2, "F_Exit", 2, "Close", "99422");
    F_OverPrompt.Add(0, "F_OverPrompt", 0, "Ask for overwriting  existing library components");
    F_OverPrompt.Add(1, "F_OverPrompt", 1, "Overwrite existing Library components");
    F_OverPrompt(0).SetGroup({&F_OverPrompt(0), &F_OverPrompt(1)});
    F_OverPrompt(1).SetGroup({&F_OverPrompt(0), &F_OverPrompt(1)});
    F_Clstfile.Add(0, "F_Clstfile", 0, "Create Upgrade.lst file only", "4451");
    F_Clstfile.Add(1, "F_Clstfile", 1, "Create Upgrade.lst files and lib files", "4452");
    F_Clstfile(0).SetGroup({&F_Clstfile(0), &F_Clstfile(1)});
    F_Clstfile(1).SetGroup({&F_Clstfile(0), &F_Clstfile(1)});

    static const char* const kDetails[] = {"Part Library Details",
                                           "Symbol Library Details",
                                           "Package Library Details",
                                           "Spice Model Libraries  ( SPARAM )",
                                           "Mixedmode Parameter Libraries  ( MPARAM )",
                                           "Subcircuit  Library Details",
                                           "Thermal Library Components",
                                           "Thermal Library Source",
                                           "Profile Files",
                                           "MiscFile Details"};
    for (int i = 0; i < 10; ++i) F_Details.Add(i, "F_Details", i, kDetails[i]);

    static const char* const kFileItems[] = {"&Part Libraries (  *.PART  )",
                                             "&Symbol Libraries (  *.SYMBOL  )",
                                             "&Package  Libraries (  *.PACKAGE  )",
                                             "&Simvane models (  *.SPARAM  )",
                                             "&Mixed mode models (  *.MPARAM  )",
                                             "Subcircuit files (  *.sbc  )",
                                             "&Thermal library components (  *.tal  ) ",
                                             "Thermal library source (  *.dat  )",
                                             "&Profiles files (  *.spc  )",
                                             "Copy any other file (  *.* )"};
    for (int i = 0; i < 10; ++i) M_File.Children().push_back(&M_Fileitems.Add(i, "M_Fileitems", kFileItems[i], i));
    M_File.Children().insert(M_File.Children().end(), {&M_Sep, &M_Upgload, &M_exit});

    // Control order: the order LocalizeForm walks and the window lays out.
    for (Control* c : std::initializer_list<Control*>{
             &F_lstfrm,        &F_lstok,         &F_lstDrive,     &F_lstdir,      &F_lstfile,  &F_Help(1),
             &F_Exit(2),       &F_Displbl,       &P_UpgradeState, &F_Msg,         &F_Preferen, &F_Exit(0),
             &F_Info,          &F_Help(2),       &F_Proceed,      &F_MsgBar,      &P_SameToNo, &P_Details,
             &P_EditedToNo,    &F_Deffrm,        &F_Update,       &F_Help(4),     &F_Exit(1),  &F_Cancel,
             &F_OverPrompt(0), &F_OverPrompt(1), &P_KeepEdited,   &P_MergeEdited, &Label1,     &F_Status,
             &F_Format})
        Register(*c);
    for (int i = 0; i < 10; ++i) Register(F_Details(i));
    for (Control* c : std::initializer_list<Control*>{
             &F_EDLlist,  &F_Devitem,  &F_Devlist,   &F_Move,      &F_Remitem,  &F_ESLlist,   &F_Smbitem,
             &F_Slist,    &F_Smbmove,  &F_Remsmb,    &F_ELLList,   &F_Layitem,  &F_llist,     &F_Laymove,
             &F_Remlsmb,  &F_Smlilist, &F_Smlitem,   &F_Smldlist,  &F_SMLMove,  &F_Remsml,    &F_MPLList,
             &F_MPLlitem, &F_Mpldlist, &F_MPLMove,   &F_RemMpl,    &F_sbcdrive, &F_sbcdir,    &F_SBCItem,
             &F_SBCList,  &F_Sbcmove,  &F_Remsbc,    &F_Thermtal,  &F_Tallist,  &F_Talmove,   &F_RemTal,
             &F_Thermdat, &F_Datlist,  &F_Datmove,   &F_Remdat,    &F_Profitem, &F_ProfList,  &F_SPCmove,
             &F_Remspc,   &F_Miscdrive, &F_MiscDir,  &F_Miscitem,  &F_Mlist,    &F_MiscMove,  &F_RemMisc,
             &F_Syspathlbl, &F_Syspath, &F_Filedesclbl, &F_Filedesc, &F_chgfrm, &F_Drive,     &F_Dir,
             &F_Create,   &F_Terminate, &Frame3D2,   &F_Clstfile(0), &F_Clstfile(1), &F_Destfmtpath,
             &F_Destdpath, &F_Destspath, &F_DestI_spath, &F_Destlpath, &F_Destsmlpath, &F_Destmplpath,
             &P_SignKey,  &P_ArchiveFile, &M_File})
        Register(*c);
    for (int i = 0; i < 10; ++i) Register(M_Fileitems(i));
    for (Control* c : std::initializer_list<Control*>{&M_Sep, &M_Upgload, &M_exit, &M_Build}) Register(*c);

    // The window as designed: the load page in front, the other views hidden, no menus.
    for (Control* c : std::initializer_list<Control*>{&F_Msg, &F_Deffrm, &F_Format, &F_chgfrm, &M_File, &M_Build})
        c->SetVisible(false);
    for (int i = 1; i < 10; ++i) F_Details(i).SetVisible(false);
}

MainForm::LibraryFrame MainForm::LibraryFrameOf(int kindIndex) {
    switch (kindIndex) {
        case 0: return {&F_EDLlist, &F_Devitem, &F_Devlist, &F_Move, &F_Remitem};
        case 1: return {&F_ESLlist, &F_Smbitem, &F_Slist, &F_Smbmove, &F_Remsmb};
        case 2: return {&F_ELLList, &F_Layitem, &F_llist, &F_Laymove, &F_Remlsmb};
        case 3: return {&F_Smlilist, &F_Smlitem, &F_Smldlist, &F_SMLMove, &F_Remsml};
        default: return {&F_MPLList, &F_MPLlitem, &F_Mpldlist, &F_MPLMove, &F_RemMpl};
    }
}

ListBox* MainForm::FileFrameChosenList(int frameIndex) {
    switch (frameIndex) {
        case 5: return &F_SBCList;
        case 6: return &F_Tallist;
        case 7: return &F_Datlist;
        case 8: return &F_ProfList;
        default: return &F_Mlist;
    }
}

}  // namespace zrx::ui
