#pragma once

// Choosing in the builder's frames as a user does: a library clicked, elements or files selected,
// ">>" pressed.
#include <string>

#include "ui/forms/main_form.h"

namespace zrx::test {

// Chooses the element `name` of `library` in the builder's frame of `kind`.
inline void ChooseElement(ui::MainForm& m, int kind, const std::string& library, const std::string& name) {
    const ui::MainForm::LibraryFrame f = m.LibraryFrameOf(kind);
    f.libraries->Refresh();
    for (int i = 0; i < f.libraries->ListCount(); ++i)
        if (f.libraries->List(i) == library) f.libraries->UserSelect({i}, i);
    for (int i = 0; i < f.elements->ListCount(); ++i) f.elements->SetSelected(i, f.elements->List(i) == name);
    f.move->Click();
}

// Chooses the file `name` of a file frame's list.
inline void ChooseFile(ui::FileList& files, ui::Button& move, const std::string& name) {
    files.Refresh();
    for (int i = 0; i < files.ListCount(); ++i) files.SetSelected(i, files.List(i) == name);
    move.Click();
}

}  // namespace zrx::test
