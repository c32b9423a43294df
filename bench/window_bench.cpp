// The window with a large list, as a user meets it: after OK the grid is shown; the grid is
// scrolled from its top to its bottom; the Update column is flipped over all rows by one drag.
// Qt Test benchmarks (QBENCHMARK) on an installation and an upgrade folder given by
// ZRX_BENCH_SUITE and ZRX_BENCH_LIST (zrx_bench passes those of its list row).
#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QtTest>
#include <cstdlib>
#include <string>

#include "program/app.h"
#include "program/handlers.h"
#include "program/startup.h"
#include "ui/console/console_dialogs.h"
#include "ui/qt/main_window.h"
#include "ui/scripted_dialogs.h"

using namespace zrx;

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Lets the window catch up with every change, as the event loop does between user actions, and
// paints what shows.
void Settle(QWidget* window) {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    window->repaint();
}

}  // namespace

class WindowBench : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(!Env("ZRX_BENCH_SUITE").empty() && !Env("ZRX_BENCH_LIST").empty(),
                 "ZRX_BENCH_SUITE and ZRX_BENCH_LIST name the installation and the upgrade folder");
        m_app.commandLine = "\"" + Env("ZRX_BENCH_SUITE") + "\"";
        ConnectHandlers(m_app);
        QVERIFY(Form_Load(m_app) == StartupOutcome::Ready);
        m_app.window.main.SetVisible(true);
        m_window.resize(1100, 680);
        m_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_window));
        m_grid = m_window.findChild<QTableView*>("F_Preferen");
        m_ok = m_window.findChild<QPushButton*>("F_lstok");
        QVERIFY(m_grid != nullptr && m_ok != nullptr);
        m_app.window.main.F_lstdir.SetPath(Env("ZRX_BENCH_LIST"));
        Settle(&m_window);
    }

    // From OK on the load page to the grid shown with every row and its change.
    void gridShownAfterOk() {
        QBENCHMARK {
            m_app.window.main.F_Msg.SetVisible(false);
            m_app.window.main.F_lstfrm.SetVisible(true);
            Settle(&m_window);
            QTest::mouseClick(m_ok, Qt::LeftButton);
            Settle(&m_window);
        }
        QVERIFY(m_grid->isVisible());
        QVERIFY(m_grid->model()->rowCount() >= 100000);
    }

    // The scroll bar's thumb dragged from the top to the bottom: the grid is painted at every
    // fiftieth of the way.
    void scrolledFromTopToBottom() {
        QScrollBar* bar = m_grid->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QBENCHMARK {
            for (int step = 0; step <= 50; ++step) {
                bar->setValue(bar->minimum() + (bar->maximum() - bar->minimum()) * step / 50);
                m_grid->viewport()->repaint();
            }
        }
        QCOMPARE(bar->value(), bar->maximum());
    }

    // A press on the first row's Update cell and the release on the last row's: every row flips.
    void updateColumnFlippedByOneDrag() {
        const int rows = m_grid->model()->rowCount();
        const QString before = m_grid->model()->index(rows - 1, 3).data().toString();
        int drags = 0;
        QBENCHMARK {
            m_grid->scrollToTop();
            Settle(&m_window);
            const QRect first = m_grid->visualRect(m_grid->model()->index(0, 3));
            QTest::mousePress(m_grid->viewport(), Qt::LeftButton, {}, first.center());
            m_grid->scrollToBottom();
            Settle(&m_window);
            const QRect last = m_grid->visualRect(m_grid->model()->index(rows - 1, 3));
            QTest::mouseMove(m_grid->viewport(), last.center());  // a drag moves before it ends
            QTest::mouseRelease(m_grid->viewport(), Qt::LeftButton, {}, last.center());
            Settle(&m_window);
            ++drags;
        }
        const QString expected = drags % 2 == 0 ? before : (before == "YES" ? "NO" : "YES");
        QCOMPARE(m_grid->model()->index(rows - 1, 3).data().toString(), expected);
        QCOMPARE(m_grid->model()->index(0, 3).data().toString(), expected);
    }

private:
    ui::ScriptedDialogs m_dialogs;
    ui::ConsoleFontCatalog m_fonts;
    App m_app{m_dialogs, m_fonts};
    qt::MainWindow m_window{m_app};
    QTableView* m_grid = nullptr;
    QPushButton* m_ok = nullptr;
};

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    WindowBench bench;
    return QTest::qExec(&bench, argc, argv);
}
#include "window_bench.moc"
