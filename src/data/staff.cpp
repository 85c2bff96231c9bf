#include "data/staff.h"

#include <sodium.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlQuery>
#include <algorithm>

#include "core/app_error.h"
#include "core/ini_file.h"
#include "data/db_connection.h"

namespace ondrel {

namespace {

constexpr int kLoginLimit = 32;
constexpr int kNameLimit = 64;
constexpr int kPasswordLimit = 256;

struct RoleName {
    StaffRole role;
    const char* name;
    const char16_t* shown;
};
constexpr RoleName kRoles[] = {{StaffRole::Doctor, "doctor", u"医師"},
                               {StaffRole::Nurse, "nurse", u"看護師"},
                               {StaffRole::Clerk, "clerk", u"事務"},
                               {StaffRole::Admin, "admin", u"管理者"}};

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

StaffRow RowAt(const QSqlQuery& q) {
    StaffRow r;
    r.member.login = ValueAt(q, 0).toString();
    r.member.name = ValueAt(q, 1).toString();
    const QString role = ValueAt(q, 2).toString();
    r.member.active = q.value(3).toInt() == 1;
    r.member.passwordHash = ValueAt(q, 4).toString();
    if (const auto known = StaffRoleNamed(role)) {
        r.member.role = *known;
    } else {
        r.problem = QStringLiteral("役割「%1」はありません").arg(role);
    }
    if (r.problem.isEmpty() && !StaffLoginProblem(r.member.login).isEmpty())
        r.problem = StaffLoginProblem(r.member.login);
    if (r.problem.isEmpty() && !StaffNameProblem(r.member.name).isEmpty())
        r.problem = StaffNameProblem(r.member.name);
    if (r.problem.isEmpty() && !r.member.passwordHash.startsWith(QStringLiteral("$argon2id$")))
        r.problem = QStringLiteral("パスワードが登録されていません");
    return r;
}

const QString kSelect =
    QStringLiteral("Select Login, Name, Role, Active, PasswordHash From tblMasStaff");

}  // namespace

std::optional<StaffRole> StaffRoleNamed(const QString& name) {
    for (const RoleName& r : kRoles) {
        if (name == QLatin1String(r.name)) return r.role;
    }
    return std::nullopt;
}

QString StaffRoleName(StaffRole role) {
    for (const RoleName& r : kRoles) {
        if (r.role == role) return QLatin1String(r.name);
    }
    return {};
}

QString StaffRoleShown(StaffRole role) {
    for (const RoleName& r : kRoles) {
        if (r.role == role) return QString::fromUtf16(r.shown);
    }
    return {};
}

bool StaffMayWrite(StaffRole role) { return role != StaffRole::Clerk; }

QString StaffLoginProblem(const QString& login) {
    static const QRegularExpression allowed(
        QStringLiteral("^[A-Za-z0-9._-]{1,%1}$").arg(kLoginLimit));
    if (login.isEmpty()) return QStringLiteral("職員IDが空です");
    if (!allowed.match(login).hasMatch())
        return QStringLiteral("職員IDは半角の英数字と . _ - で %1 文字までです").arg(kLoginLimit);
    return {};
}

QString StaffNameProblem(const QString& name) {
    if (name.trimmed().isEmpty()) return QStringLiteral("氏名が空です");
    if (name.size() > kNameLimit) return QStringLiteral("氏名は %1 文字までです").arg(kNameLimit);
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
            c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return QStringLiteral("氏名に制御文字は使えません");
    }
    return {};
}

QString PasswordProblem(const QByteArray& password) {
    if (password.isEmpty()) return QStringLiteral("パスワードが空です");
    if (QString::fromUtf8(password).size() > kPasswordLimit)
        return QStringLiteral("パスワードは %1 文字までです").arg(kPasswordLimit);
    return {};
}

QString HashPassword(const QByteArray& password) {
    char hash[crypto_pwhash_STRBYTES];
    if (!SodiumReady() || crypto_pwhash_str(hash, password.constData(), size_t(password.size()),
                                            crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                            crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw AppError(err::OutOfMemory, QStringLiteral("password hash"));
    return QString::fromLatin1(hash);
}

bool PasswordMatches(const QString& hash, const QByteArray& password) {
    const QByteArray h = hash.toLatin1();
    if (!SodiumReady() || h.isEmpty() || h.size() >= crypto_pwhash_STRBYTES) return false;
    return crypto_pwhash_str_verify(h.constData(), password.constData(), size_t(password.size())) ==
           0;
}

bool HoldsStaffTable(DbConnection& cn) { return HoldsTable(cn, QStringLiteral("tblMasStaff")); }

bool SignInRequired(DbConnection& cn) {
    if (!HoldsStaffTable(cn)) return false;
    QSqlQuery q = RunQuery(cn, QStringLiteral("Select Count(*) From tblMasStaff Where Active = 1"));
    return q.next() && q.value(0).toLongLong() > 0;
}

std::vector<StaffRow> ReadStaff(DbConnection& cn) {
    std::vector<StaffRow> rows;
    if (!HoldsStaffTable(cn)) return rows;
    QSqlQuery q = RunQuery(cn, kSelect + QStringLiteral(" Order By Login"));
    while (q.next()) rows.push_back(RowAt(q));
    return rows;
}

std::optional<StaffRow> FindStaff(DbConnection& cn, const QString& login) {
    if (!HoldsStaffTable(cn)) return std::nullopt;
    QSqlQuery q = RunQuery(cn, kSelect + QStringLiteral(" Where Login = ?"), {login});
    if (!q.next()) return std::nullopt;
    return RowAt(q);
}

qint64 SteadyMilliseconds() {
    static const QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed();
}

SignInCheck::SignInCheck(std::function<qint64()> nowMs)
    : nowMs_(nowMs ? std::move(nowMs) : SteadyMilliseconds) {}

SignInCheck::Result SignInCheck::Try(DbConnection& cn, const QString& login,
                                     const QByteArray& password) {
    Result r;
    Count& count = counts_[login];
    const qint64 now = nowMs_();
    if (count.until > now) {
        r.outcome = Outcome::Waiting;
        r.message = QStringLiteral(
                        "パスワードを %1 回続けて間違えたため、あと %2 秒はサインインできません。")
                        .arg(kTries)
                        .arg((count.until - now + 999) / 1000);
        return r;
    }
    const auto wrong = [&] {
        if (++count.wrong >= kTries) {
            count.wrong = 0;
            count.until = now + kWaitMs;
        }
        r.outcome = Outcome::Wrong;
        r.message = QStringLiteral("職員IDまたはパスワードが違います。");
        return r;
    };
    const std::optional<StaffRow> row =
        StaffLoginProblem(login).isEmpty() ? FindStaff(cn, login) : std::nullopt;
    if (!row) return wrong();
    if (!row->problem.isEmpty()) {
        r.outcome = Outcome::Unusable;
        r.message = QStringLiteral(
                        "職員「%1」の登録が正しくないため、サインインできません（%2）。"
                        "\r\n管理者に連絡して下さい。")
                        .arg(login, row->problem);
        return r;
    }
    if (!PasswordMatches(row->member.passwordHash, password)) return wrong();
    count = {};
    if (!row->member.active) {
        r.outcome = Outcome::Disabled;
        r.message =
            QStringLiteral("職員ID「%1」は無効になっています。管理者に連絡して下さい。").arg(login);
        return r;
    }
    r.outcome = Outcome::SignedIn;
    r.member = row->member;
    return r;
}

int IdleLockMinutes(const QString& settingsFile) {
    bool ok = false;
    const int n =
        ReadIniString(settingsFile, QStringLiteral("Security"), QStringLiteral("IdleLockMinutes"))
            .trimmed()
            .toInt(&ok);
    if (!ok || n < 0) return 10;
    return std::min(n, 24 * 60);
}

}  // namespace ondrel
