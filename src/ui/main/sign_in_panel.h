#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ondrel {

// サインイン: covers the main window while nobody is signed in, so no
// patient's data shows behind it.
class SignInPanel : public QWidget {
    Q_OBJECT
  public:
    explicit SignInPanel(QWidget* parent);

    // At start 終了 ends the program; once someone has worked, the window
    // stays until a person signs in.
    void Open(bool atStart, const QString& message = {});
    void Tell(const QString& message);
    QString Login() const;
    QByteArray Password() const;

  signals:
    void signInClicked();
    void quitClicked();

  private:
    QLineEdit* txtStaffId = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLabel* lblMessage = nullptr;
    QPushButton* cmdSignIn = nullptr;
    QPushButton* cmdQuit = nullptr;
};

}  // namespace ondrel
