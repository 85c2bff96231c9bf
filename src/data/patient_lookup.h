#pragma once

#include <QDate>
#include <QString>
#include <optional>

namespace ondrel {

struct AppContext;

// Fills ctx.patient for the full chart number n; ChartNo -1 when the patient
// is not registered or the database cannot be opened.
void LookUpPatient(AppContext& ctx, qint32 n);
// Fills ctx.clinic from 医院情報; a database that cannot be opened is a failure.
void LoadClinicInfo(AppContext& ctx);

// 12345 → "1234-5", 7 → "0-7".
QString FormatKarteNo(qint32 n);
// The full chart number without its last digit: what memos store as KarteNo.
qint32 BaseNoOf(qint32 n);
// Completed years from birth to asOf; empty when either is not a date.
QString AgeText(const QString& birth, const QDate& asOf);
QString AgeText(const QString& birth, const QString& asOf);

}  // namespace ondrel
