#pragma once

#include <QString>
#include <QStringList>

namespace ondrel {

// The printers as the system's print service (CUPS) lists them, through its
// own commands; none when it is not there.
QStringList Printers();
QString DefaultPrinter();
// Why a report cannot go to `name` (empty: the default printer) — no such
// printer, paused, no default — or empty. `resolved` gets the printer's name.
QString PrinterProblem(const QString& name, QString* resolved);

}  // namespace ondrel
