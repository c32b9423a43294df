#pragma once

#include <array>
#include <utility>
#include <vector>

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPointer>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zrx {
class App;
namespace ui {
class Control;
}
}

namespace zrx::qt {

// INSTINF in a real window: every frame of the main form laid out in one place, each control
// bound to its model.
class MainWindow : public QMainWindow {
public:
    explicit MainWindow(App& app);
    ~MainWindow() override;
    // Opens a folder (or the folder of a file) on the load page, as choosing it in the lists does.
    void OpenFolder(const std::string& folder);
    // Keeps the window within the available part of its screen: a remembered size from a larger
    // screen or another scale factor is made smaller, and a place past the edge is moved in.
    void FitIntoScreen();
    // How far a long operation has come; a total of 0 ends the display.
    void ShowProgress(const std::string& text, size_t done, size_t total);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* BuildLoadPage();
    QWidget* BuildSelectionPage();
    QWidget* BuildUpdatePage();
    QWidget* BuildElementFrames();
    QWidget* BuildBuildFrame();
    void BuildBuilderFrames();
    void StopBuilderWatch();
    // Puts the frames in their order: the first in front.
    void StackFrames();
    void BuildMenus();
    // A caption of the window's own around the form's controls: localised by its number.
    QLabel* AddCaption(QWidget* parent, const char* text, int32_t number);
    void RefreshCaptions();

    App& m_app;
    QGridLayout* m_stack = nullptr;
    std::array<QWidget*, 5> m_frames{};  // load, selection, update, builder lists, builder destination
    std::vector<std::pair<ui::Control*, int>> m_builderWatch;
    struct CaptionText {
        QPointer<QLabel> label;
        const char* text;
        int32_t number;
    };
    void RefreshCaption(const CaptionText& caption);
    std::vector<CaptionText> m_captions;
    QPointer<QLineEdit> m_folderPath;
    QPointer<QProgressBar> m_runProgress;
    QPointer<QProgressBar> m_statusProgress;
    QPointer<QLabel> m_statusText;
};

// Registers the dialogs of the modal forms (readme viewer, summary) with the dialog interface.
class QtDialogs;
void RegisterFormDialogs(QtDialogs& dialogs);

}  // namespace zrx::qt
