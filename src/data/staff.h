#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
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

}  // namespace ondrel
