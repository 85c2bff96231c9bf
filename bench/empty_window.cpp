// The start-up benchmark's yardsticks: an empty Qt window of the main
// window's size, started the same way; with --label, the same window with
// one line of Japanese text in the main window's font, which is what the
// font system's own start costs.
#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <cstring>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget w;
    w.resize(1103, 808);
    if (argc > 1 && std::strcmp(argv[1], "--label") == 0) {
        QFont font(QStringLiteral("MS PGothic"));
        font.setPointSizeF(11.25);
        w.setFont(font);
        auto* label = new QLabel(QStringLiteral("指導指示管理"), &w);
        label->move(12, 12);
    }
    w.show();
    return app.exec();
}
