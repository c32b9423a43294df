#pragma once

#include <string>
#include <vector>

namespace zrx {

class App;
namespace ui {
class ReadmeForm;
}

// Fills the viewer's text from the readme lines, each followed by CR LF.
void formfill(ui::ReadmeForm& form, const std::vector<std::string>& readmeLines);

// Shows the readme viewer INSTTXT modally with the readme lines of the list loaded last.
void ShowReadmeViewer(App& app);

}  // namespace zrx
