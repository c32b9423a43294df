#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <vector>

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
    // A caption of the window's own around the form's controls: localised by its number.
    QLabel* AddCaption(QWidget* parent, const char* text, int32_t number);
    void RefreshCaptions();

    App& m_app;
    struct CaptionText {
        QPointer<QLabel> label;
        const char* text;
        int32_t number;
    };
    std::vector<CaptionText> m_captions;
};

// Registers the dialogs of the modal forms (readme viewer, summary) with the dialog interface.
class QtDialogs;
void RegisterFormDialogs(QtDialogs& dialogs);

}  // namespace zrx::qt
