#include "gui/override_wait_cursor.h"

#include <QApplication>
#include <QCursor>

namespace ondrel {

void OverrideWaitCursor::Begin() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
void OverrideWaitCursor::End() { QApplication::restoreOverrideCursor(); }

}  // namespace ondrel
