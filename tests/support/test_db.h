#pragma once

#include <QString>
#include <QVariantList>

#include "test_support.h"

namespace ondrel::test {

// A program folder whose Ondrel.ini names a system database made by the
// schema function, holding a few patients.
class TestDbProgram : public TestProgram {
  public:
    TestDbProgram();
    QString DbPath() const { return Root() + QStringLiteral("/system.db"); }
    // Runs one statement on its own connection (test set-up and checks).
    void Exec(const QString& sql, const QVariantList& values = {}) const;
    QVariant Scalar(const QString& sql, const QVariantList& values = {}) const;
    qint32 AddMemo(int formCode, qint32 fullChartNo, const QString& isoDate,
                   const QString& text) const;
};

}  // namespace ondrel::test
