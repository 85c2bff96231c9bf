#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace ondrel {

class DbConnection;

// Who may sign in on the clinic's PCs (tblMasStaff). doctor and nurse write
// memos; clerk views and prints; admin writes and also opens 設定.
enum class StaffRole { Doctor, Nurse, Clerk, Admin };
std::optional<StaffRole> StaffRoleNamed(const QString& name);  // doctor, nurse, clerk, admin
QString StaffRoleName(StaffRole role);
QString StaffRoleShown(StaffRole role);  // 医師, 看護師, 事務, 管理者
bool StaffMayWrite(StaffRole role);

struct StaffMember {
    QString login, name;
    StaffRole role = StaffRole::Nurse;
    bool active = false;
    QString passwordHash;
    // "login 氏名": how the records name the person.
    QString Shown() const { return login + u' ' + name; }
};

// What is wrong with a login, a name or a password someone typed (empty:
// nothing). Logins are 1–32 of A–Z a–z 0–9 . _ -; names 1–64 characters
// without control characters; passwords 1–256 characters.
QString StaffLoginProblem(const QString& login);
QString StaffNameProblem(const QString& name);
QString PasswordProblem(const QByteArray& password);

// Argon2id (libsodium's own string form, with its salt and costs); the
// password itself is never kept.
QString HashPassword(const QByteArray& password);
bool PasswordMatches(const QString& hash, const QByteArray& password);

bool HoldsStaffTable(DbConnection& cn);
// Sign-in is on while the table has an active person.
bool SignInRequired(DbConnection& cn);
// Every row; one whose values this program did not write (a role it does not
// know, an empty hash) comes back with `problem` set rather than dropped.
struct StaffRow {
    StaffMember member;
    QString problem;
};
std::vector<StaffRow> ReadStaff(DbConnection& cn);
std::optional<StaffRow> FindStaff(DbConnection& cn, const QString& login);

// Milliseconds of a steady clock since its first use: the lockout's and the
// idle lock's time.
qint64 SteadyMilliseconds();

// Checks a sign-in and counts the wrong passwords: five in a row for one
// login, and that login waits a minute before the next try. Kept by the
// running program (a wrong password on another PC is that PC's count).
class SignInCheck {
  public:
    enum class Outcome { SignedIn, Wrong, Waiting, Disabled, Unusable };
    struct Result {
        Outcome outcome = Outcome::Wrong;
        StaffMember member;  // SignedIn
        QString message;     // the rest: what the user is told
    };
    static constexpr int kTries = 5;
    static constexpr qint64 kWaitMs = 60000;

    // `nowMs`: a steady clock in milliseconds (tests give their own).
    explicit SignInCheck(std::function<qint64()> nowMs = {});
    Result Try(DbConnection& cn, const QString& login, const QByteArray& password);

  private:
    struct Count {
        int wrong = 0;
        qint64 until = 0;
    };
    std::function<qint64()> nowMs_;
    std::map<QString, Count> counts_;
};

// [Security] IdleLockMinutes: minutes without input before the window
// locks; 0 never. 10 when missing or not a number; at most a day.
int IdleLockMinutes(const QString& settingsFile);

}  // namespace ondrel
