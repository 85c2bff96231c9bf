// The start-up benchmark's yardstick: an empty Qt window of the main
// window's size, started the same way.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget w;
    w.resize(1103, 808);
    w.show();
    return app.exec();
}
