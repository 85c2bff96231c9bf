#pragma once

#include <QString>
#include <QVariantList>
#include <chrono>

#include "test_support.h"

namespace ondrel::test {

// Whether this run's system databases are on the test server
// (ONDREL_TEST_ENGINE=postgres, the server's base URI in ONDREL_TEST_PG).
bool OnServer();
// A new, empty database on the test server; its URI. The run ends with the
// skip code when no server was given.
QString NewServerDatabase();
void DropServerDatabase(const QString& uri);
// The same database as the test cluster's workstation login (ondrel_ws, a
// member of ondrel_users and nothing more) sees it.
QString AsWorkstation(const QString& uri);

// The busy timeout shortened while it lives: a busy case is told the same
// after a fraction of a second as after the real 5 s, which one test keeps.
class ShortBusyTimeout {
  public:
    explicit ShortBusyTimeout(std::chrono::milliseconds wait = std::chrono::milliseconds(300));
    ~ShortBusyTimeout();
    ShortBusyTimeout(const ShortBusyTimeout&) = delete;
    ShortBusyTimeout& operator=(const ShortBusyTimeout&) = delete;
};

// A program folder whose Ondrel.ini names a system database made by the
// schema function, holding a few patients: a file, or a database of its own
// on the test server.
class TestDbProgram : public TestProgram {
  public:
    TestDbProgram();
    ~TestDbProgram();
    TestDbProgram(const TestDbProgram&) = delete;
    TestDbProgram& operator=(const TestDbProgram&) = delete;
    // The SystemDB value: a file path, or a server URI with the workstation
    // login, as a clinic's Ondrel.ini names it.
    QString DbPath() const { return OnServer() ? AsWorkstation(target_) : target_; }
    // What only the database's owner does (init, copy, backup, restore,
    // the chart system's imports): the same file, or the server as its owner.
    QString OwnerDbPath() const { return target_; }
    // Runs one statement as the owner, on its own connection (test set-up and
    // checks).
    void Exec(const QString& sql, const QVariantList& values = {}) const;
    QVariant Scalar(const QString& sql, const QVariantList& values = {}) const;
    // A memo with its first revision, as the program would write it.
    qint32 AddMemo(int formCode, qint32 fullChartNo, const QString& isoDate,
                   const QString& text) const;

  private:
    QString target_;
};

}  // namespace ondrel::test
