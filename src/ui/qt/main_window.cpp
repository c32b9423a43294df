#include "ui/qt/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>
#include <tuple>

#include "base/messages.h"
#include "base/paths.h"
#include "program/app.h"
#include "ui/forms/details_form.h"
#include "ui/forms/readme_form.h"
#include "ui/forms/summary_form.h"
#include "ui/qt/bindings.h"
#include "ui/qt/qt_dialogs.h"

namespace zrx::qt {

namespace {

template <typename Widget, typename Model>
Widget* Make(QWidget* parent, Model& model) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromStdString(model.FullName()));
    Bind(widget, model);
    return widget;
}

QPushButton* MakeButton(QWidget* parent, ui::Button& button) {
    auto* widget = Make<QPushButton>(parent, button);
    widget->setMinimumWidth(96);
    return widget;
}

QListView* MakeList(QWidget* parent, ui::ListBox& list) {
    auto* widget = Make<QListView>(parent, list);
    widget->setMinimumHeight(120);
    return widget;
}

// Makes a caption of the window's own (a label that names a list or a group of controls).
using CaptionMaker = std::function<QLabel*(QWidget* parent, const char* text, int32_t number)>;

// A library frame: library files | elements | >> << | chosen elements.
QWidget* LibraryFrame(QWidget* parent, const CaptionMaker& caption, ui::Frame& frame, ui::FileList& libraries,
                      ui::ListBox& elements, ui::Button& move, ui::Button& remove, ui::ListBox& chosen) {
    auto* box = Make<QGroupBox>(parent, frame);
    auto* grid = new QGridLayout(box);
    grid->addWidget(caption(box, "Libraries", 20003), 0, 0);
    grid->addWidget(caption(box, "Elements", 20004), 0, 1);
    grid->addWidget(caption(box, "Chosen for the upgrade", 20005), 0, 3);
    grid->addWidget(MakeList(box, libraries), 1, 0);
    grid->addWidget(MakeList(box, elements), 1, 1);
    auto* buttons = new QVBoxLayout();
    buttons->addStretch();
    buttons->addWidget(MakeButton(box, move));
    buttons->addWidget(MakeButton(box, remove));
    buttons->addStretch();
    grid->addLayout(buttons, 1, 2);
    grid->addWidget(MakeList(box, chosen), 1, 3);
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 3);
    return box;
}

// A file frame: (folder) | files | >> << | chosen files.
QWidget* FileFrame(QWidget* parent, const CaptionMaker& caption, ui::Frame& frame, QWidget* source, ui::FileList& files,
                   ui::Button& move, ui::Button& remove, ui::ListBox& chosen, QLayout* extra = nullptr) {
    auto* box = Make<QGroupBox>(parent, frame);
    auto* grid = new QGridLayout(box);
    int column = 0;
    if (source != nullptr) {
        grid->addWidget(caption(box, "Folder", 20006), 0, column);
        grid->addWidget(source, 1, column++);
    }
    grid->addWidget(caption(box, "Files", 20007), 0, column);
    grid->addWidget(MakeList(box, files), 1, column++);
    auto* buttons = new QVBoxLayout();
    buttons->addStretch();
    buttons->addWidget(MakeButton(box, move));
    buttons->addWidget(MakeButton(box, remove));
    buttons->addStretch();
    grid->addLayout(buttons, 1, column++);
    grid->addWidget(caption(box, "Chosen for the upgrade", 20005), 0, column);
    auto* right = new QVBoxLayout();
    right->addWidget(MakeList(box, chosen));
    if (extra != nullptr) right->addLayout(extra);
    grid->addLayout(right, 1, column);
    for (int c = 0; c <= column; ++c) grid->setColumnStretch(c, c == column - 1 ? 0 : 3);
    return box;
}

// A drive box above a folder list.
QWidget* FolderChooser(QWidget* parent, ui::DriveList& drive, ui::DirList& dir) {
    auto* widget = new QWidget(parent);
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Make<QComboBox>(widget, drive));
    auto* list = Make<QListWidget>(widget, dir);
    list->setMinimumHeight(120);
    layout->addWidget(list);
    return widget;
}

class ReadmeDialog : public QDialog {
public:
    ReadmeDialog(ui::ReadmeForm& form, QWidget* parent) : QDialog(parent) {
        resize(600, 420);
        auto* layout = new QVBoxLayout(this);
        auto* frame = Make<QGroupBox>(this, form.F_Sumfrm);
        auto* inner = new QVBoxLayout(frame);
        auto* text = Make<QPlainTextEdit>(frame, form.F_Summary);
        text->setReadOnly(true);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        inner->addWidget(text);
        layout->addWidget(frame);
        auto* buttons = new QHBoxLayout();
        buttons->addStretch();
        buttons->addWidget(MakeButton(this, form.F_Help));
        buttons->addWidget(MakeButton(this, form.F_Prev));
        layout->addLayout(buttons);
    }
};

class DetailsDialog : public QDialog {
public:
    DetailsDialog(ui::DetailsForm& form, QWidget* parent) : QDialog(parent) {
        resize(900, 520);
        auto* layout = new QVBoxLayout(this);
        auto* title = Make<QLabel>(this, form.F_Title);
        title->setWordWrap(true);
        layout->addWidget(title);
        layout->addWidget(Make<QTableView>(this, form.F_Fields), 1);
        auto* diff = Make<QPlainTextEdit>(this, form.F_Diff);
        diff->setReadOnly(true);
        diff->setLineWrapMode(QPlainTextEdit::NoWrap);
        layout->addWidget(diff, 1);
        auto* buttons = new QHBoxLayout();
        buttons->addStretch();
        buttons->addWidget(MakeButton(this, form.F_Close));
        layout->addLayout(buttons);
    }
};

class SummaryDialog : public QDialog {
public:
    SummaryDialog(ui::SummaryForm& form, QWidget* parent) : QDialog(parent) {
        resize(860, 480);
        auto* layout = new QVBoxLayout(this);
        auto* title = Make<QLabel>(this, form.F_Result);
        title->setStyleSheet("QLabel { font-size: 12pt; font-weight: bold; }");
        layout->addWidget(title);
        layout->addWidget(Make<QTableView>(this, form.F_Resgrid), 1);
        auto* buttons = new QHBoxLayout();
        buttons->addWidget(MakeButton(this, form.F_Save));
        buttons->addWidget(MakeButton(this, form.F_Help));
        buttons->addWidget(MakeButton(this, form.P_Undo));
        buttons->addStretch();
        buttons->addWidget(MakeButton(this, form.F_PrevDef));
        buttons->addWidget(MakeButton(this, form.F_Finish));
        layout->addLayout(buttons);
    }
};

}  // namespace

void RegisterFormDialogs(QtDialogs& dialogs) {
    dialogs.RegisterForm("INSUMRY", [](ui::Form& form, QWidget* parent) -> QDialog* {
        return new SummaryDialog(static_cast<ui::SummaryForm&>(form), parent);
    });
    dialogs.RegisterForm("INDETAIL", [](ui::Form& form, QWidget* parent) -> QDialog* {
        return new DetailsDialog(static_cast<ui::DetailsForm&>(form), parent);
    });
    dialogs.RegisterForm("INSTTXT", [](ui::Form& form, QWidget* parent) -> QDialog* {
        return new ReadmeDialog(static_cast<ui::ReadmeForm&>(form), parent);
    });
}

MainWindow::MainWindow(App& app) : m_app(app) {
    ui::MainForm& m = app.window.main;
    setObjectName("INSTINF");
    setWindowTitle(ToQt(m.Caption()));
    auto* central = new QWidget(this);
    m_stack = new QGridLayout(central);
    setCentralWidget(central);
    // The frames share one place; where two are visible, the one listed first lies in front.
    m_frames = {BuildLoadPage(), BuildSelectionPage(), BuildUpdatePage(), nullptr, nullptr};
    for (QWidget* frame : m_frames)
        if (frame != nullptr) m_stack->addWidget(frame, 0, 0);
    StackFrames();
    // The builder's frames, half of the window's controls, are made when the builder first shows
    // one of them: a start in load mode need not make them.
    if (m.F_Format.Visible() || m.F_chgfrm.Visible()) {
        BuildBuilderFrames();
    } else {
        for (ui::Control* control : {static_cast<ui::Control*>(&m.F_Format), static_cast<ui::Control*>(&m.F_chgfrm)})
            m_builderWatch.emplace_back(control, control->Subscribe([this, &m] {
                if (m.F_Format.Visible() || m.F_chgfrm.Visible()) BuildBuilderFrames();
            }));
    }
    BuildMenus();
    // Large enough for the grid's columns on today's screens; the window is resizable and every
    // page follows its size.
    resize(1100, 680);
    setMinimumSize(640, 420);
    setAcceptDrops(true);
    Track(this, m, [this, &m] {
        setWindowTitle(ToQt(m.Caption()));
        RefreshCaptions();
    });
    // Track() hides the window with the form's design state; the program shows it after start-up.
}

MainWindow::~MainWindow() { StopBuilderWatch(); }

void MainWindow::StopBuilderWatch() {
    for (const auto& [control, id] : m_builderWatch) control->Unsubscribe(id);
    m_builderWatch.clear();
}

void MainWindow::BuildBuilderFrames() {
    if (m_frames[3] != nullptr) return;
    StopBuilderWatch();
    m_frames[3] = BuildElementFrames();
    m_frames[4] = BuildBuildFrame();
    m_stack->addWidget(m_frames[3], 0, 0);
    m_stack->addWidget(m_frames[4], 0, 0);
    StackFrames();
}

void MainWindow::StackFrames() {
    for (auto frame = m_frames.rbegin(); frame != m_frames.rend(); ++frame)
        if (*frame != nullptr) (*frame)->raise();
}

QWidget* MainWindow::BuildLoadPage() {
    ui::MainForm& m = m_app.window.main;
    auto* page = Make<QWidget>(centralWidget(), m.F_lstfrm);
    auto* layout = new QHBoxLayout(page);
    auto* prompt = Make<QLabel>(page, m.F_Displbl);
    prompt->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    prompt->setMinimumWidth(220);
    prompt->setMaximumWidth(280);
    layout->addWidget(prompt);
    auto* chooser = new QVBoxLayout();
    chooser->addWidget(AddCaption(page, "Upgrade folder", 20001));
    // A folder typed or pasted (Enter opens it) besides the drive box and the folder list.
    auto* path = new QLineEdit(page);
    path->setObjectName("P_FolderPath");
    // The clear button's icon is looked up in the icon theme, which costs more than the rest of
    // the window: the button comes when the mouse or the focus first comes to the field.
    Hook(path, [path](QEvent* event) {
        if ((event->type() == QEvent::Enter || event->type() == QEvent::FocusIn) && !path->isClearButtonEnabled())
            path->setClearButtonEnabled(true);
        return false;
    });
    path->setPlaceholderText(ToQt(GetLocalMessage("Type or paste a folder and press Enter, or drop one here", 20050)));
    m_folderPath = path;
    Track(path, m.F_lstdir, [path, &m] {
        if (!path->hasFocus()) path->setText(ToQt(m.F_lstdir.Path()));
    });
    // What was typed opens on Enter, and also when the field is left otherwise (OK clicked right
    // after typing): OK then loads the folder typed, not the one the list showed before.
    QObject::connect(path, &QLineEdit::editingFinished, path, [this, path] {
        if (!path->isModified()) return;
        path->setModified(false);
        OpenFolder(FromQt(path->text()));
    });
    chooser->addWidget(path);
    // What is known of the chosen upgrade: signed, intact, unverified, tampered.
    auto* state = Make<QLabel>(page, m.P_UpgradeState);
    state->setWordWrap(true);
    state->setTextInteractionFlags(Qt::TextSelectableByMouse);
    chooser->addWidget(state);
    chooser->addWidget(FolderChooser(page, m.F_lstDrive, m.F_lstdir), 3);
    chooser->addWidget(AddCaption(page, "Files in the folder", 20002));
    chooser->addWidget(MakeList(page, m.F_lstfile), 2);
    layout->addLayout(chooser, 1);
    auto* buttons = new QVBoxLayout();
    buttons->addWidget(MakeButton(page, m.F_lstok));
    buttons->addWidget(MakeButton(page, m.F_Help(1)));
    buttons->addStretch();
    buttons->addWidget(MakeButton(page, m.F_Exit(2)));
    layout->addLayout(buttons);
    return page;
}

QWidget* MainWindow::BuildSelectionPage() {
    ui::MainForm& m = m_app.window.main;
    auto* page = Make<QWidget>(centralWidget(), m.F_Msg);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Make<QLabel>(page, m.F_MsgBar));
    layout->addWidget(Make<QTableView>(page, m.F_Preferen), 1);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(MakeButton(page, m.F_Info));
    buttons->addWidget(MakeButton(page, m.F_Help(2)));
    buttons->addStretch();
    buttons->addWidget(MakeButton(page, m.P_Details));
    buttons->addWidget(MakeButton(page, m.P_SameToNo));
    buttons->addWidget(MakeButton(page, m.P_EditedToNo));
    buttons->addWidget(MakeButton(page, m.F_Exit(0)));
    buttons->addWidget(MakeButton(page, m.F_Proceed));
    layout->addLayout(buttons);
    return page;
}

QWidget* MainWindow::BuildUpdatePage() {
    ui::MainForm& m = m_app.window.main;
    auto* page = Make<QWidget>(centralWidget(), m.F_Deffrm);
    auto* layout = new QVBoxLayout(page);
    auto* options = new QGroupBox(page);
    auto* optionLayout = new QVBoxLayout(options);
    optionLayout->addWidget(Make<QRadioButton>(options, m.F_OverPrompt(0)));
    optionLayout->addWidget(Make<QRadioButton>(options, m.F_OverPrompt(1)));
    optionLayout->addWidget(Make<QCheckBox>(options, m.P_KeepEdited));
    optionLayout->addWidget(Make<QCheckBox>(options, m.P_MergeEdited));
    layout->addWidget(options);
    layout->addSpacing(16);
    layout->addWidget(Make<QLabel>(page, m.Label1));
    auto* status = new QHBoxLayout();
    status->addWidget(Make<QLabel>(page, m.F_Status), 1);
    // Element i of n while a run is busy.
    auto* bar = new QProgressBar(page);
    bar->setObjectName("P_RunProgress");
    bar->setFormat("%v / %m");
    bar->setMinimumWidth(bar->fontMetrics().horizontalAdvance("0000000 / 0000000") + 40);
    bar->hide();
    m_runProgress = bar;
    status->addWidget(bar);
    layout->addLayout(status);
    layout->addStretch();
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(MakeButton(page, m.F_Cancel));
    buttons->addStretch();
    buttons->addWidget(MakeButton(page, m.F_Help(4)));
    buttons->addWidget(MakeButton(page, m.F_Exit(1)));
    buttons->addWidget(MakeButton(page, m.F_Update));
    layout->addLayout(buttons);
    return page;
}

QWidget* MainWindow::BuildElementFrames() {
    ui::MainForm& m = m_app.window.main;
    auto* format = Make<QWidget>(centralWidget(), m.F_Format);
    auto* stack = new QGridLayout(format);
    stack->setContentsMargins(0, 0, 0, 0);
    const CaptionMaker caption = [this](QWidget* parent, const char* text, int32_t number) {
        return AddCaption(parent, text, number);
    };
    QWidget* details[10] = {
        LibraryFrame(format, caption, m.F_Details(0), m.F_EDLlist, m.F_Devitem, m.F_Move, m.F_Remitem, m.F_Devlist),
        LibraryFrame(format, caption, m.F_Details(1), m.F_ESLlist, m.F_Smbitem, m.F_Smbmove, m.F_Remsmb, m.F_Slist),
        LibraryFrame(format, caption, m.F_Details(2), m.F_ELLList, m.F_Layitem, m.F_Laymove, m.F_Remlsmb, m.F_llist),
        LibraryFrame(format, caption, m.F_Details(3), m.F_Smlilist, m.F_Smlitem, m.F_SMLMove, m.F_Remsml, m.F_Smldlist),
        LibraryFrame(format, caption, m.F_Details(4), m.F_MPLList, m.F_MPLlitem, m.F_MPLMove, m.F_RemMpl, m.F_Mpldlist),
        FileFrame(format, caption, m.F_Details(5), FolderChooser(format, m.F_sbcdrive, m.F_sbcdir), m.F_SBCItem, m.F_Sbcmove,
                  m.F_Remsbc, m.F_SBCList),
        FileFrame(format, caption, m.F_Details(6), nullptr, m.F_Thermtal, m.F_Talmove, m.F_RemTal, m.F_Tallist),
        FileFrame(format, caption, m.F_Details(7), nullptr, m.F_Thermdat, m.F_Datmove, m.F_Remdat, m.F_Datlist),
        FileFrame(format, caption, m.F_Details(8), nullptr, m.F_Profitem, m.F_SPCmove, m.F_Remspc, m.F_ProfList),
        nullptr};
    auto* misc = new QFormLayout();
    misc->setRowWrapPolicy(QFormLayout::WrapAllRows);
    misc->addRow(Make<QLabel>(format, m.F_Syspathlbl), Make<QComboBox>(format, m.F_Syspath));
    misc->addRow(Make<QLabel>(format, m.F_Filedesclbl), Make<QLineEdit>(format, m.F_Filedesc));
    details[9] = FileFrame(format, caption, m.F_Details(9), FolderChooser(format, m.F_Miscdrive, m.F_MiscDir), m.F_Miscitem,
                           m.F_MiscMove, m.F_RemMisc, m.F_Mlist, misc);
    for (QWidget* frame : details) stack->addWidget(frame, 0, 0);
    return format;
}

QWidget* MainWindow::BuildBuildFrame() {
    ui::MainForm& m = m_app.window.main;
    auto* frame = Make<QWidget>(centralWidget(), m.F_chgfrm);
    auto* layout = new QHBoxLayout(frame);
    auto* left = new QVBoxLayout();
    left->addWidget(AddCaption(frame, "Destination folder of the upgrade", 20008));
    left->addWidget(FolderChooser(frame, m.F_Drive, m.F_Dir), 1);
    layout->addLayout(left, 2);
    auto* right = new QVBoxLayout();
    right->addWidget(AddCaption(frame, "Files the build writes", 20009));
    auto* paths = new QFormLayout();
    const std::tuple<const char*, int32_t, ui::Label*> rows[] = {
        {"Upgrade list", 20010, &m.F_Destfmtpath},         {"Part library", 20011, &m.F_Destdpath},
        {"Symbol library", 20012, &m.F_Destspath},         {"I_ symbol library", 20013, &m.F_DestI_spath},
        {"Package library", 20014, &m.F_Destlpath},        {"SPARAM model library", 20015, &m.F_Destsmlpath},
        {"MPARAM model library", 20016, &m.F_Destmplpath}};
    for (const auto& [text, number, label] : rows)
        paths->addRow(AddCaption(frame, text, number), Make<QLabel>(frame, *label));
    right->addLayout(paths);
    auto* options = Make<QGroupBox>(frame, m.Frame3D2);
    auto* optionLayout = new QVBoxLayout(options);
    optionLayout->addWidget(Make<QRadioButton>(options, m.F_Clstfile(0)));
    optionLayout->addWidget(Make<QRadioButton>(options, m.F_Clstfile(1)));
    right->addWidget(options);
    // The key that signs the build and the zip file it is also written as: typed, or chosen in a
    // file dialog; empty leaves the build unsigned, or without a zip file.
    auto* seal = new QFormLayout();
    auto fileRow = [this, frame, seal](ui::TextBox& box, const char* caption, int32_t number, bool save,
                                       const QString& filter) {
        auto* row = new QHBoxLayout();
        auto* field = Make<QLineEdit>(frame, box);
        row->addWidget(field, 1);
        auto* choose = new QPushButton(ToQt(GetLocalMessage("Choose...", 20073)), frame);
        QObject::connect(choose, &QPushButton::clicked, frame, [frame, field, &box, save, filter] {
            const QString chosen = save ? QFileDialog::getSaveFileName(frame, QString(), field->text(), filter)
                                        : QFileDialog::getOpenFileName(frame, QString(), field->text(), filter);
            if (!chosen.isEmpty()) box.UserEdit(FromQt(chosen));
        });
        row->addWidget(choose);
        seal->addRow(AddCaption(frame, caption, number), row);
    };
    fileRow(m.P_SignKey, "Sign with the key (empty: unsigned)", 20071, false,
            "minisign secret keys (*.key);;All files (*)");
    fileRow(m.P_ArchiveFile, "Also write as the zip file (empty: none)", 20072, true,
            "Zip files (*.zip)");
    right->addLayout(seal);
    right->addStretch();
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(MakeButton(frame, m.F_Create));
    buttons->addWidget(MakeButton(frame, m.F_Terminate));
    right->addLayout(buttons);
    layout->addLayout(right, 3);
    return frame;
}

QLabel* MainWindow::AddCaption(QWidget* parent, const char* text, int32_t number) {
    auto* label = new QLabel(parent);
    m_captions.push_back({label, text, number});
    RefreshCaption(m_captions.back());
    return label;
}

// In the user's language and in the font of the form's other controls (set at start-up).
void MainWindow::RefreshCaption(const CaptionText& caption) {
    if (!caption.label) return;
    caption.label->setText(ToQt(GetLocalMessage(caption.text, caption.number)));
    const QFont font = FontOf(m_app.window.uiFont, caption.label->font());
    if (font != caption.label->font()) caption.label->setFont(font);
}

void MainWindow::RefreshCaptions() {
    for (const CaptionText& caption : m_captions) RefreshCaption(caption);
}

void MainWindow::BuildMenus() {
    ui::MainForm& m = m_app.window.main;
    QMenu* file = menuBar()->addMenu(ToQt(m.M_File.Caption()));
    for (ui::MenuItem* item : m.M_File.Children()) {
        if (item->Separator()) {
            file->addSeparator();
            continue;
        }
        auto* action = file->addAction(ToQt(item->Caption()));
        Bind(action, *item);
    }
    Bind(file->menuAction(), m.M_File);
    auto* build = menuBar()->addAction(ToQt(m.M_Build.Caption()));
    Bind(build, m.M_Build);
    auto syncBar = [this, &m] { menuBar()->setVisible(m.M_File.Visible() || m.M_Build.Visible()); };
    syncBar();
    m.M_File.Subscribe(syncBar);
    m.M_Build.Subscribe(syncBar);
}

void MainWindow::OpenFolder(const std::string& folder) {
    ui::MainForm& m = m_app.window.main;
    if (!m.F_lstfrm.Visible() || folder.empty()) return;
    std::error_code error;
    std::string path =
        std::filesystem::absolute(folder, error)
            .lexically_normal()
            .string();  // file-access: a folder the user dropped on the window, before it is opened once
    // A file opens its folder; an upgrade archive is chosen in the folder's file list as well.
    std::string file;
    if (!std::filesystem::is_directory(
            path, error)) {  // file-access: a folder the user dropped on the window, before it is opened once
        file =
            std::filesystem::path(path)
                .filename()
                .string();  // file-access: a folder the user dropped on the window, before it is opened once
        path =
            std::filesystem::path(path)
                .parent_path()
                .string();  // file-access: a folder the user dropped on the window, before it is opened once
    }
    if (m.F_lstdir.SetPath(WithoutTrailingSeparator(path))) {
        m.F_lstDrive.SetDriveFor(m.F_lstdir.Path());
        if (m.F_lstdir.onChange) m.F_lstdir.onChange();
        const auto& files = m.F_lstfile.Items();
        const auto chosen = std::find(files.begin(), files.end(), file);
        if (!file.empty() && chosen != files.end()) {
            m.F_lstfile.UserSelect({static_cast<int>(chosen - files.begin())}, static_cast<int>(chosen - files.begin()));
        }
    } else if (m_folderPath) {
        m_folderPath->setToolTip(ToQt(GetLocalMessage("This folder cannot be read", 20051)));
    }
}

void MainWindow::FitIntoScreen() {
    if (isMaximized() || isFullScreen()) return;
    QScreen* screen = QGuiApplication::screenAt(geometry().center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect available = screen->availableGeometry();
    // The frame's edges are known once the window is shown; before, room is left for a title bar.
    const QMargins frame = isVisible() ? QMargins(geometry().left() - frameGeometry().left(),
                                                  geometry().top() - frameGeometry().top(),
                                                  frameGeometry().right() - geometry().right(),
                                                  frameGeometry().bottom() - geometry().bottom())
                                       : QMargins(0, style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
    const QRect room = available.marginsRemoved(frame);
    QRect fitted = geometry();
    fitted.setSize(fitted.size().boundedTo(room.size()).expandedTo(minimumSizeHint()));
    fitted.moveLeft(std::clamp(fitted.left(), room.left(), std::max(room.left(), room.right() + 1 - fitted.width())));
    fitted.moveTop(std::clamp(fitted.top(), room.top(), std::max(room.top(), room.bottom() + 1 - fitted.height())));
    if (fitted != geometry()) setGeometry(fitted);
}

void MainWindow::ShowProgress(const std::string& text, size_t done, size_t total) {
    // Beside the status line on the update page; in the status bar everywhere else.
    QProgressBar* bar = m_runProgress;
    const bool onUpdatePage = m_app.window.main.F_Deffrm.Visible();
    if (!onUpdatePage) {
        if (!m_statusProgress) {
            m_statusText = new QLabel(this);
            m_statusProgress = new QProgressBar(this);
            m_statusProgress->setMaximumWidth(240);
            statusBar()->addPermanentWidget(m_statusText, 1);
            statusBar()->addPermanentWidget(m_statusProgress);
        }
        bar = m_statusProgress;
        m_statusText->setText(ToQt(text));
        statusBar()->setVisible(total > 0);
    }
    if (!bar) return;
    if (total == 0) {
        bar->hide();
        if (m_runProgress) m_runProgress->hide();
        return;
    }
    bar->setRange(0, static_cast<int>(std::min<size_t>(total, INT_MAX)));
    bar->setValue(static_cast<int>(std::min<size_t>(done, INT_MAX)));
    bar->show();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (m_app.window.main.F_lstfrm.Visible() && event->mimeData()->hasUrls() &&
        event->mimeData()->urls().first().isLocalFile())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    OpenFolder(FromQt(urls.first().toLocalFile()));
    event->acceptProposedAction();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    m_app.CloseMainWindow();
    event->accept();
}

}  // namespace zrx::qt
