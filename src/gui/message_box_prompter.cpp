#include "gui/message_box_prompter.h"

#include <QApplication>
#include <QMessageBox>

namespace ondrel {

namespace {

// Windows boxes wrote CR LF; Qt wants plain line feeds.
QString ForDisplay(const QString& text) {
    QString t = text;
    return t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

class OpenCount {
  public:
    explicit OpenCount(int& n) : n_(n) { ++n_; }
    ~OpenCount() { --n_; }
    OpenCount(const OpenCount&) = delete;
    OpenCount& operator=(const OpenCount&) = delete;

  private:
    int& n_;
};

int Show(int& open, QMessageBox::Icon icon, const QString& title, const QString& text,
         QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
    OpenCount guard(open);
    QMessageBox box(icon, title, ForDisplay(text), buttons, QApplication::activeWindow());
    box.setDefaultButton(defaultButton);
    box.setEscapeButton(buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec();
}

}  // namespace

bool MessageBoxPrompter::Question(const QString& title, const QString& text) {
    return Show(open_, QMessageBox::Information, title, text, QMessageBox::Yes | QMessageBox::No,
                QMessageBox::No) == QMessageBox::Yes;
}

void MessageBoxPrompter::Warning(const QString& title, const QString& text) {
    Show(open_, QMessageBox::Warning, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBoxPrompter::Information(const QString& title, const QString& text) {
    Show(open_, QMessageBox::Information, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBoxPrompter::Beep() { QApplication::beep(); }

}  // namespace ondrel
