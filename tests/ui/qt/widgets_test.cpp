// The widget layer on the offscreen platform: events reach the handlers, model changes reach the
// widgets, modal boxes are shown and answered.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <functional>
#include <memory>
#include <QtTest>

#include "kernel/library_exchange.h"
#include "program/app.h"
#include "program/handlers.h"
#include "program/startup.h"
#include "support/run_cli.h"
#include "support/temp_dir.h"
#include "ui/console/console_dialogs.h"
#include "ui/control.h"
#include "ui/forms/summary_form.h"
#include "ui/grid.h"
#include "ui/list_box.h"
#include "ui/qt/bindings.h"
#include "ui/qt/main_window.h"
#include "ui/qt/qt_dialogs.h"
#include "ui/scripted_dialogs.h"

using namespace zrx;
#include <filesystem>

// The program in its real window, started on an installation ("<dir>" or "<dir>,TRELM").
struct Program {
    explicit Program(const std::string& commandLine) {
        app.commandLine = "\"" + commandLine + "\"";
        app.executableDirectory = [] { return std::string("/opt/zarnix"); };
        ConnectHandlers(app);
        started = Form_Load(app) == StartupOutcome::Ready;
        app.window.main.SetVisible(true);
        window.show();
    }
    ui::ScriptedDialogs dialogs;
    ui::ConsoleFontCatalog fonts;
    App app{dialogs, fonts};
    qt::MainWindow window{app};
    bool started = false;
};

class WidgetsTest : public QObject {
    Q_OBJECT

private slots:
    void AClickReachesItsHandler() {
        ui::Button model("F_lstok", -1, "OK");
        int clicks = 0;
        model.onClick = [&clicks] { ++clicks; };
        QPushButton button;
        qt::Bind(&button, model);
        button.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        model.SetEnabled(false);
        QCoreApplication::processEvents();
        QVERIFY(!button.isEnabled());
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicks, 1);
    }

    void AModelChangeShowsInItsWidget() {
        ui::Label model("F_Status", "", ui::Label::Style::Status);
        QLabel label;
        qt::Bind(&label, model);
        model.SetCaption("Copying File  a.dat");
        QCoreApplication::processEvents();
        QCOMPARE(label.text(), QString("Copying File  a.dat"));
        model.SetCaption("Gr\xC3\xBC\xC3\x9F" "e");  // UTF-8
        QCoreApplication::processEvents();
        QCOMPARE(label.text(), QString::fromUtf8("Grüße"));
        model.SetCaption("\xE4");  // not UTF-8: Windows-1252
        QCoreApplication::processEvents();
        QCOMPARE(label.text(), QString::fromUtf8("ä"));
        model.SetVisible(false);
        QCoreApplication::processEvents();
        QVERIFY(label.isHidden());
    }

    void OptionButtonsStayExclusive() {
        ui::OptionButton ask("F_OverPrompt", 0, "Ask");
        ui::OptionButton all("F_OverPrompt", 1, "All");
        ask.SetGroup({&ask, &all});
        all.SetGroup({&ask, &all});
        all.SetValue(true);
        QRadioButton a, b;
        qt::Bind(&a, ask);
        qt::Bind(&b, all);
        a.show();
        b.show();
        QTest::mouseClick(&a, Qt::LeftButton);
        QCoreApplication::processEvents();
        QVERIFY(ask.Value());
        QVERIFY(!all.Value());
        QVERIFY(a.isChecked());
        QVERIFY(!b.isChecked());
    }

    void ListsShowTheirLinesAndReportSelections() {
        ui::ListBox model("F_Devitem", ui::ListBox::Selection::Extended);
        QListView view;
        qt::Bind(&view, model);
        view.show();
        model.SetItems({"7400", "7404", "7408"});
        QCoreApplication::processEvents();
        QCOMPARE(view.model()->rowCount(), 3);
        int clicks = 0;
        model.onClick = [&clicks] { ++clicks; };
        view.selectionModel()->select(view.model()->index(1, 0), QItemSelectionModel::Select);
        view.selectionModel()->select(view.model()->index(2, 0), QItemSelectionModel::Select);
        QVERIFY(clicks >= 1);
        QCOMPARE(model.SelectedIndices(), (std::vector<int>{1, 2}));
    }

    void ADragOverTheGridReachesItsHandlerWithTheRange() {
        ui::Grid grid("F_Preferen");
        grid.SetRows(5);
        grid.SetCols(5);
        grid.SetFixedRows(1);
        grid.SetFixedCols(0);
        for (int r = 1; r < 5; ++r) grid.SetTextMatrix(r, 3, "YES");
        int row = -1, rowSel = -1, col = -1;
        grid.onMouseUp = [&] { row = grid.Row(), rowSel = grid.RowSel(), col = grid.Col(); };
        QTableView view;
        qt::Bind(&view, grid);
        view.resize(600, 300);
        view.show();
        QCoreApplication::processEvents();
        QCOMPARE(view.model()->rowCount(), 4);
        const QPoint from = view.visualRect(view.model()->index(1, 3)).center();
        const QPoint to = view.visualRect(view.model()->index(3, 3)).center();
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(view.viewport(), to);
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, to);
        QTRY_COMPARE(row, 4);  // the cell released on is current; the range runs back to the press
        QCOMPARE(rowSel, 2);
        QCOMPARE(col, 3);
        // A Shift+click extends the selection from where it stood: the whole range reaches the handler.
        row = rowSel = -1;
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(view.model()->index(0, 3)).center());
        QTRY_COMPARE(row, 1);
        row = rowSel = -1;
        QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          view.visualRect(view.model()->index(3, 3)).center());
        QTRY_COMPARE(row, 4);
        QCOMPARE(rowSel, 1);
        // The view shows the cells' texts and follows their changes.
        QCOMPARE(view.model()->data(view.model()->index(1, 3)).toString(), QString("YES"));
        grid.SetTextMatrix(2, 3, "NO");
        grid.SetTextMatrix(2, 0, "74HC00");
        QCoreApplication::processEvents();
        QCOMPARE(view.model()->data(view.model()->index(1, 3)).toString(), QString("NO"));
        QCOMPARE(view.model()->data(view.model()->index(1, 0)).toString(), QString("74HC00"));
        QCOMPARE(view.model()->data(view.model()->index(0, 3)).toString(), QString("YES"));
    }

    void AModalBoxIsShownAndAnswered() {
        qt::QtDialogs dialogs;
        BoxAnswerer no(QMessageBox::No);
        const ui::Answer answer = dialogs.ShowMessage({"Are you sure you want to update the library files",
                                                       "Zarnix32 Library Upgrade", ui::Icon::Question,
                                                       ui::Buttons::YesNo, true});
        QVERIFY2(no.failure.isEmpty(), qPrintable(no.failure));
        QCOMPARE(no.shownText, QString("Are you sure you want to update the library files"));
        QVERIFY(answer == ui::Answer::No);

        BoxAnswerer retry(QMessageBox::Retry);
        const ui::Answer second = dialogs.ShowMessage(
            {"Could not locate file", "ZRXLIBUG Setup", ui::Icon::Critical, ui::Buttons::AbortRetryIgnore, false});
        QVERIFY2(retry.failure.isEmpty(), qPrintable(retry.failure));
        QVERIFY(second == ui::Answer::Retry);
    }

    // Help opened from a modal window (the summary, the readme viewer) can be used at once: the
    // modal window must not block it.
    void HelpIsUsableFromAModalWindow() {
        struct BlockWatch : QObject {
            bool blocked = false;
            bool eventFilter(QObject* object, QEvent* event) override {
                if (object->objectName() == "helpWindow" && object->isWidgetType()) {
                    if (event->type() == QEvent::WindowBlocked) blocked = true;
                    if (event->type() == QEvent::WindowUnblocked) blocked = false;
                }
                return false;
            }
        } watch;
        qApp->installEventFilter(&watch);
        qt::QtDialogs dialogs;
        QWidget owner;
        owner.show();
        dialogs.SetOwner(&owner);
        dialogs.RegisterForm("INSUMRY", [](ui::Form&, QWidget* parent) { return new QDialog(parent); });
        ui::SummaryForm form;
        bool shown = false, blockedWhileModal = true;
        QTimer::singleShot(0, [&] {
            dialogs.ShowHelp("/no/such/help.html");
            QCoreApplication::processEvents();
            QWidget* help = nullptr;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->objectName() == "helpWindow") help = top;
            shown = help != nullptr && help->isVisible();
            blockedWhileModal = watch.blocked;
            form.SetVisible(false);
        });
        dialogs.ShowModal(form);
        qApp->removeEventFilter(&watch);
        QVERIFY(shown);
        QVERIFY(!blockedWhileModal);
    }

private:
    // Answers the next modal message box with a button. A check that fails inside a timer cannot
    // end the test, and a box left open would hang it: so the answerer looks for the box for a
    // while, closes whatever modal window is there when it is not the expected box, and keeps
    // what went wrong for the test to report once the box has returned.
    struct BoxAnswerer {
        explicit BoxAnswerer(QMessageBox::StandardButton wanted) : button(wanted) {
            QTimer::singleShot(0, [this] { Look(); });
        }
        void Look() {
            QWidget* modal = QApplication::activeModalWidget();
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box != nullptr && box->button(button) != nullptr) {
                shownText = box->text();
                box->button(button)->click();
                return;
            }
            if (modal != nullptr) {
                failure = "a modal window without the expected button was shown";
                modal->close();
                return;
            }
            if (++tries < 500) QTimer::singleShot(10, [this] { Look(); });
            else failure = "no modal box was shown";
        }
        QMessageBox::StandardButton button;
        int tries = 0;
        QString shownText;
        QString failure;
    };
};

// The part frame of the builder in the real window: a click on a library lists its elements, and
// ">>" moves the selected ones into the chosen list.
class BuilderFrameTest : public QObject {
    Q_OBJECT

private slots:
    void ThePartFrameListsAndMovesElements() {
        test::TempDir suite;
        std::string ini = "[Zarnix32]\n";
        for (const char* key : {"JobDir", "LibDir", "SysDir", "ULM3JobDir", "ZSMcml", "ZSMudn", "ZSMmod", "ZSMsbk", "ZSMwrk"}) {
            std::filesystem::create_directories(suite / key);
            ini += std::string(key) + "=" + (suite / key) + "\n";
        }
        test::WriteFile(suite / "ZARNIX32.INI", ini);
        std::string error;
        QVERIFY(ImportLibrary(
            suite / "LibDir/Logic.PART",
            R"({"kind":"ZarnixDLL00","elements":[{"name":"7400","device":{"text1":"","text2":"","supply_pins":[],"groups":[]}},{"name":"7404","device":{"text1":"","text2":"","supply_pins":[],"groups":[]}}]})"));
        Program program(suite.Path() + ",TRELM");
        QVERIFY(program.started);
        App& app = program.app;
        qt::MainWindow& window = program.window;
        QCoreApplication::processEvents();

        auto* libraries = window.findChild<QListView*>("F_EDLlist");
        auto* elements = window.findChild<QListView*>("F_Devitem");
        auto* chosen = window.findChild<QListView*>("F_Devlist");
        auto* move = window.findChild<QPushButton*>("F_Move");
        QVERIFY(libraries && elements && chosen && move);
        QTRY_COMPARE(libraries->model()->rowCount(), 1);
        QTest::mouseClick(libraries->viewport(), Qt::LeftButton, {}, libraries->visualRect(libraries->model()->index(0, 0)).center());
        QTRY_COMPARE(elements->model()->rowCount(), 2);
        QTest::mouseClick(elements->viewport(), Qt::LeftButton, {}, elements->visualRect(elements->model()->index(1, 0)).center());
        QTest::mouseClick(move, Qt::LeftButton);
        QTRY_COMPARE(chosen->model()->rowCount(), 1);
        QCOMPARE(chosen->model()->index(0, 0).data().toString(), QString("7404"));
        QCOMPARE(app.builder.tables.UpgParts[0].Name, std::string("7404"));
    }
};

// The selection page in the real window: the grid shows each row's change in a sixth column, and
// the page's action sets the unchanged rows to NO.
class SelectionPageTest : public QObject {
    Q_OBJECT

private slots:
    void TheGridShowsEachRowsChangeAndUnchangedRowsCanBeLeftOut() {
        test::TempDir dir;
        QCOMPARE(test::RunCli({"demo", dir.Path()}).status, 0);
        Program program(dir / "suite");
        QVERIFY(program.started);
        App& app = program.app;
        qt::MainWindow& window = program.window;
        app.window.main.F_lstdir.SetPath(dir / "upgrade");
        // A folder typed into the path field opens it, as choosing it in the folder list does.
        app.window.main.F_lstdir.SetPath("/");
        auto* path = window.findChild<QLineEdit*>("P_FolderPath");
        QVERIFY(path);
        path->clear();
        QTest::keyClicks(path, QString::fromStdString(dir / "upgrade"));
        QTest::keyClick(path, Qt::Key_Return);
        QCOMPARE(app.window.main.F_lstdir.Path(), dir / "upgrade");
        QVERIFY(app.window.main.F_lstfile.ListCount() > 0);
        auto* ok = window.findChild<QPushButton*>("F_lstok");
        QVERIFY(ok);
        QTest::mouseClick(ok, Qt::LeftButton);
        auto* grid = window.findChild<QTableView*>("F_Preferen");
        QVERIFY(grid);
        QTRY_COMPARE(grid->model()->columnCount(), 6);
        QCOMPARE(grid->model()->headerData(5, Qt::Horizontal).toString(), QString("Change"));
        QCOMPARE(grid->model()->headerData(3, Qt::Horizontal).toString(), QString("Update"));
        // Every column at least as wide as its header and its widest cell: no path is cut.
        for (int c = 0; c < 5; ++c) {
            int widest = grid->horizontalHeader()->fontMetrics().horizontalAdvance(
                grid->model()->headerData(c, Qt::Horizontal).toString());
            for (int r = 0; r < grid->model()->rowCount(); ++r)
                widest = std::max(widest, grid->fontMetrics().horizontalAdvance(grid->model()->index(r, c).data().toString()));
            QVERIFY2(grid->columnWidth(c) >= widest, qPrintable(QString("column %1").arg(c)));
        }
        int same = -1;
        for (int r = 0; r < grid->model()->rowCount() && same < 0; ++r)
            if (grid->model()->index(r, 5).data().toString() == "same") same = r;
        QVERIFY(same >= 0);
        QCOMPARE(grid->model()->index(0, 5).data().toString(), QString("new"));
        auto* action = window.findChild<QPushButton*>("P_SameToNo");
        QVERIFY(action && action->isVisible());
        QTest::mouseClick(action, Qt::LeftButton);
        QTRY_COMPARE(grid->model()->index(same, 3).data().toString(), QString("NO"));
        QCOMPARE(grid->model()->index(0, 3).data().toString(), QString("YES"));

        // A double click on a changed row shows its fields side by side, the one that differs
        // marked; the view changes nothing.
        const std::string before = test::TreeSnapshot(dir / "suite");
        int changed = -1;
        for (int r = 0; r < grid->model()->rowCount() && changed < 0; ++r)
            if (grid->model()->index(r, 5).data().toString() == "changed") changed = r;
        QVERIFY(changed >= 0);
        QStringList marked;
        QString shown;
        program.dialogs.OnModal([&](ui::Form& form) {
            shown = QString::fromStdString(form.Name());
            auto* fields = static_cast<ui::Grid*>(form.Find("F_Fields"));
            for (int r = 1; r < fields->Rows(); ++r)
                if (fields->TextMatrix(r, 0) == "*")
                    marked << QString::fromStdString(fields->TextMatrix(r, 1));
        });
        const QRect cell = grid->visualRect(grid->model()->index(changed, 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QTRY_COMPARE(app.window.main.F_Preferen.Row(), changed + 1);
        // The view's own signal: a synthesized double click does not reach it on every platform.
        emit grid->doubleClicked(grid->model()->index(changed, 0));
        QTRY_COMPARE(shown, QString("INDETAIL"));
        QCOMPARE(marked, QStringList{"device.text1"});
        QCOMPARE(test::TreeSnapshot(dir / "suite"), before);
    }
};

// The program as it starts: from the suite, from the menu, in a window that fits its screen.
class StartTest : public QObject {
    Q_OBJECT

private slots:
    // Without a command line the program ends, showing nothing: the suite relies on it. (A dialog
    // or window would keep it running until the time limit.)
    void StartedWithNothingItEndsWithoutAWindow() {
        test::TempDir home;
        const std::string command = "HOME=" + test::Quote(home.Path()) + " XDG_CONFIG_HOME=" +
                                    test::Quote(home / "config") + " QT_QPA_PLATFORM=offscreen timeout 30 " +
                                    test::Quote(test::BinDir() + "/zrxlibug") + " </dev/null >/dev/null 2>&1";
        const int raw = std::system(command.c_str());
        QCOMPARE(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0);
    }

    void ARememberedSizeLargerThanTheScreenIsFittedIntoIt() {
        test::TempDir dir;
        QCOMPARE(test::RunCli({"demo", dir.Path()}).status, 0);
        Program program(dir / "suite");
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        program.window.setGeometry(available.adjusted(-300, 200, 900, 700));
        program.window.FitIntoScreen();
        QVERIFY2(available.contains(program.window.frameGeometry()),
                 qPrintable(QString("%1,%2 %3x%4").arg(program.window.x()).arg(program.window.y())
                                .arg(program.window.width()).arg(program.window.height())));
    }
};

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    WidgetsTest widgets;
    BuilderFrameTest builder;
    SelectionPageTest selection;
    StartTest start;
    return QTest::qExec(&widgets, argc, argv) | QTest::qExec(&builder, argc, argv) |
           QTest::qExec(&selection, argc, argv) | QTest::qExec(&start, argc, argv);
}
#include "widgets_test.moc"
