#pragma once

#include <QString>
#include <exception>

namespace ondrel {

// Error numbers the program can raise, the one catalogue (texts in
// app_error.cpp). The numbers below 1000 keep the meaning clinic staff know
// from the Windows program's error reports.
namespace err {
inline constexpr int InvalidProcedureCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int OutOfMemory = 7;
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int DivisionByZero = 11;
inline constexpr int TypeMismatch = 13;
inline constexpr int BadFileName = 52;
inline constexpr int FileNotFound = 53;
inline constexpr int FileAlreadyExists = 58;
inline constexpr int DiskFull = 61;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccessError = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int ItemNotFound = 3265;  // a column the statement did not return
inline constexpr int CannotCreateObject = 429;
inline constexpr int Automation = 440;  // the office refused a call
inline constexpr int OfficeGone = 462;  // the office stopped answering
// Database failures: DatabaseBase + the engine's primary result code.
inline constexpr int DatabaseBase = 3000;
inline constexpr int DatabaseNotOpen = 3000 + 14;  // SQLITE_CANTOPEN
}  // namespace err

// The one failure type: carries the error number; the text shown to the
// user always comes from the catalogue, never from the thrower.
class AppError : public std::exception {
  public:
    explicit AppError(int number, QString detail = {})
        : number_(number), detail_(std::move(detail)) {}
    int number() const { return number_; }
    // For developers only (debug output); never shown in a message box.
    const QString& detail() const { return detail_; }
    const char* what() const noexcept override { return "ondrel::AppError"; }

  private:
    int number_;
    QString detail_;
};

// The database stayed locked by another program past the busy timeout. An
// expected condition: the user is told, the program and the text on screen
// stay, and the command can be tried again.
// What the user is told when the database is in use.
QString DatabaseBusyMessage();

// A failure that is no fault of the program (a busy or unreachable
// database, an office that cannot start): the command tells the user its
// message and ends with nothing on screen lost; never the error report.
class ToldError : public AppError {
  public:
    ToldError(int number, QString detail, QString userMessage)
        : AppError(number, std::move(detail)), message_(std::move(userMessage)) {}
    const QString& UserMessage() const { return message_; }

  private:
    QString message_;
};

// The database cannot be worked on for now (locked by another program, or
// its server cannot be reached).
class DatabaseBusy : public ToldError {
  public:
    explicit DatabaseBusy(QString detail = {}, QString userMessage = DatabaseBusyMessage())
        : DatabaseBusy(err::DatabaseBase + 5, std::move(detail), std::move(userMessage)) {}

  protected:
    DatabaseBusy(int number, QString detail, QString userMessage)
        : ToldError(number, std::move(detail), std::move(userMessage)) {}
};

// A COMMIT was sent and its answer never came (the server went away or fell
// silent): the transaction may have been kept or not. Told as the command's
// failure; a memo's save checks later which it was.
class CommitUnanswered : public DatabaseBusy {
  public:
    CommitUnanswered(const DatabaseBusy& told, QString server)
        : DatabaseBusy(told), server_(std::move(server)) {}
    const QString& Server() const { return server_; }

  private:
    QString server_;
};

// What the user is told when the database server does not answer.
QString ServerUnreachableMessage(const QString& server, const QString& reason);

// The disk or the database's files failed a statement (full, read-only, an
// I/O error): not a fault of the program, told like a busy database.
class DatabaseUnavailable : public DatabaseBusy {
  public:
    DatabaseUnavailable(int number, QString detail, QString userMessage)
        : DatabaseBusy(number, std::move(detail), std::move(userMessage)) {}
};

// The server refused a statement because the login lacks a right (a role
// set up by hand, or a database made by an older version): not a fault of
// the program, so told like a busy database, with nothing on screen lost.
// `right` names what is missing ("tbldatrevision への INSERT"; may be empty),
// `reason` is the server's own word.
class DatabaseNoRight : public DatabaseBusy {
  public:
    DatabaseNoRight(QString detail, const QString& right, const QString& reason);
};

// Standard Japanese text for an error number; the generic text for any
// number the catalogue does not know.
QString ErrorText(int number);

// Error number for a database failure with the engine's result code.
int DatabaseErrorNumber(int engineResultCode);

}  // namespace ondrel
