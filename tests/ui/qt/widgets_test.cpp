// The widget layer on the offscreen platform: events reach the handlers, model changes reach the
// widgets, modal boxes are shown and answered.
#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include "ui/control.h"
#include "ui/grid.h"
#include "ui/list_box.h"
#include "ui/qt/bindings.h"
#include "ui/qt/qt_dialogs.h"

using namespace zrx;

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
        QTRY_COMPARE(row, 2);
        QCOMPARE(rowSel, 4);
        QCOMPARE(col, 3);
    }

    void AModalBoxIsShownAndAnswered() {
        qt::QtDialogs dialogs;
        QString shownText;
        QTimer::singleShot(0, [&shownText] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            shownText = box->text();
            box->button(QMessageBox::No)->click();
        });
        const ui::Answer answer = dialogs.ShowMessage({"Are you sure you want to update the library files",
                                                       "Zarnix32 Library Upgrade", ui::Icon::Question,
                                                       ui::Buttons::YesNo, true});
        QCOMPARE(shownText, QString("Are you sure you want to update the library files"));
        QVERIFY(answer == ui::Answer::No);

        QTimer::singleShot(0, [] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            box->button(QMessageBox::Retry)->click();
        });
        QVERIFY(dialogs.ShowMessage({"Could not locate file", "ZRXLIBUG Setup", ui::Icon::Critical,
                                     ui::Buttons::AbortRetryIgnore, false}) == ui::Answer::Retry);
    }
};

QTEST_MAIN(WidgetsTest)
#include "widgets_test.moc"
