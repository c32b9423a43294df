// The least a Qt Widgets program does to show a window: the start of zrxlibug is timed against it.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle("zrx bare window");
    window.resize(400, 300);
    window.show();
    return QApplication::exec();
}
