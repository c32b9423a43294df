#pragma once

#include <QMainWindow>

namespace zrx {
class App;
}

namespace zrx::qt {

// INSTINF in a real window: every frame of the main form laid out in one place, each control
// bound to its model.
class MainWindow : public QMainWindow {
public:
    explicit MainWindow(App& app);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* BuildLoadPage();
    QWidget* BuildSelectionPage();
    QWidget* BuildUpdatePage();
    QWidget* BuildElementFrames();
    QWidget* BuildBuildFrame();
    void BuildMenus();

    App& m_app;
};

// Registers the dialogs of the modal forms (readme viewer, summary) with the dialog interface.
class QtDialogs;
void RegisterFormDialogs(QtDialogs& dialogs);

}  // namespace zrx::qt
