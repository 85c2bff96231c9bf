#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

namespace ondrel::tool {

// Each returns an empty text on success, else the message for the user.
QString InitDatabase(const QString& file);
// rows, when given, receives the number of rows taken in.
QString ImportCsv(const QString& file, const QString& csvPath, const QString& table,
                  int* rows = nullptr);
QString MakeDemoDatabase(const QString& file, const QDate& today);

}  // namespace ondrel::tool
