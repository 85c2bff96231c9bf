#include "data/patient_lookup.h"

#include <QCoreApplication>
#include <QSqlQuery>

#include "core/app_context.h"
#include "data/db_connection.h"
#include "data/japanese_date.h"
#include "data/system_db.h"

namespace ondrel {

namespace {

QString Text(const QSqlQuery& q, const char* column) {
    return NullToEmpty(Field(q, QString::fromUtf8(column)));
}

}  // namespace

std::optional<PatientInfo> LookUpPatient(AppContext& ctx, FullChartNo n) {
    const auto found = WithSystemDbIfOpen(ctx, [&](DbConnection& cn) -> std::optional<PatientInfo> {
        QSqlQuery q = RunQuery(
            cn, QStringLiteral("Select * From 患者マスター Where (カルテ番号 = ?)"), {n.value});
        if (!q.next()) return std::nullopt;
        PatientInfo p;
        p.ChartNo = n;
        p.Name = Text(q, "氏名");
        p.Kana = Text(q, "フリガナ");
        const QString sex = Text(q, "性別コード");
        p.Sex = sex == u"1"   ? QStringLiteral("男性")
                : sex == u"2" ? QStringLiteral("女性")
                              : QString();
        const auto birth = EraDate(Text(q, "年号"), Text(q, "生年"), Text(q, "月"), Text(q, "日"));
        p.BirthDate = birth ? FormatEraShort(*birth) : QString();
        p.Tel = Text(q, "TEL");
        p.BaseNo = BaseOf(n);
        p.ZipCode = Text(q, "郵便番号");
        p.Address = Text(q, "住所１") + Text(q, "住所２");
        p.Job = Text(q, "職業");
        return p;
    });
    return found.value_or(std::nullopt);
}

ClinicInfo LoadClinicInfo(AppContext& ctx) {
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
    return WithSystemDb(ctx, [&](DbConnection& cn) {
        ClinicInfo c;
        QSqlQuery q = RunQuery(cn, QStringLiteral("Select * From 医院情報"));
        if (q.next()) {
            c.ClinicName = Text(q, "医院名称");
            c.ClinicZip = Text(q, "医院郵便番号");
            c.ClinicAddress = Text(q, "医院所在地");
            c.ClinicTel = Text(q, "医院電話番号");
            c.ClinicFax = Text(q, "医院FAX番号");
            c.Doctor = Text(q, "管理医師");
        }
        return c;
    });
}

QString FormatKarteNo(FullChartNo chart) {
    const qint64 n = chart.value;
    const qint64 a = n >= 0 ? n / 10 : -((-n + 9) / 10);  // rounded down
    const qint64 b = n - 10 * a;
    return QString::number(a) + u'-' + QString::number(b);
}

QString AgeText(const QString& birth, const QDate& asOf) {
    const auto b = ParseDateText(birth);
    if (!b || !asOf.isValid()) return {};
    int age = asOf.year() - b->year();
    if (asOf.month() < b->month() || (asOf.month() == b->month() && asOf.day() < b->day())) --age;
    return QString::number(age);
}

QString AgeText(const QString& birth, const QString& asOf) {
    const auto d = ParseDateText(asOf);
    return d ? AgeText(birth, *d) : QString();
}

}  // namespace ondrel
