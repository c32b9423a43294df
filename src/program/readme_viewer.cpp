#include "program/readme_viewer.h"

#include <algorithm>

#include "base/dialogs.h"
#include "program/app.h"
#include "program/main_window.h"
#include "ui/forms/readme_form.h"

namespace zrx {

void formfill(ui::ReadmeForm& form, const std::vector<std::string>& readmeLines) {
    std::string text;
    for (const std::string& line : readmeLines) text += line + "\r\n";
    form.F_Summary.SetText(std::move(text));
}

void ShowReadmeViewer(App& app) {
    // Loaded afresh each time, so it always shows the readme of the list loaded last.
    ui::ReadmeForm form;
    form.F_Summary.onKeyPress = [](int) { return 0; };  // typing changes nothing
    form.F_Prev.onClick = [&form] { form.SetVisible(false); };
    form.F_Help.onClick = [&app] { ShowHelp(app); };
    formfill(form, app.upgrade.ReadmeLines);  // Form_Load
    app.window.openForms.push_back(&form);
    app.window.dialogs.ShowModal(form);
    std::erase(app.window.openForms, &form);
}

}  // namespace zrx
