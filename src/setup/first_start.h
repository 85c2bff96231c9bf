#pragma once

#include <QDate>
#include <QString>

namespace ondrel {

// What the first start's set-up asks for.
struct SetupChoice {
    enum class Kind { NewFile, Server, ExistingFile, Demo };
    Kind kind = Kind::NewFile;
    QString database;  // file path or server URI; unused for Demo
    QString title;     // [System] Title
};

// Where a new database or the demonstration data goes by default.
QString DefaultNewDatabase(const QString& programFolder);
QString DemoDatabase(const QString& programFolder);

// Why the choice cannot be taken, before anything is written (empty: it can).
// A server is not asked here; the window tests it with the program's own
// connection.
QString SetupChoiceProblem(const SetupChoice& choice);

// Sets the program folder up: the database (made for NewFile and Demo), the
// template copied from templateFolder, 帳票/, the link folder beside it, and
// Ondrel.ini last, so a folder without it is never half set up. On failure
// what this call made is removed again and the message is returned.
QString ApplyFirstSetup(const QString& programFolder, const QString& templateFolder,
                        const SetupChoice& choice, const QDate& today);

}  // namespace ondrel
