#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class QWidget;

namespace ondrel {

// Enter moves the focus on as Tab does, in the one window it serves, except
// inside controls named in exempt (their own Enter handling stays).
class EnterAsTab : public QObject {
    Q_OBJECT
  public:
    EnterAsTab(QWidget* window, QStringList exempt = {});

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPointer<QWidget> window_;
    QStringList exempt_;
};

}  // namespace ondrel
