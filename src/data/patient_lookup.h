#pragma once

#include <QDate>
#include <QString>
#include <optional>

#include "core/records.h"

namespace ondrel {

struct AppContext;

// The patient with the full chart number n; nullopt when the patient is not
// registered or the database cannot be opened.
[[nodiscard]] std::optional<PatientInfo> LookUpPatient(AppContext& ctx, FullChartNo n);
// The row of 医院情報; a database that cannot be opened is a failure.
ClinicInfo LoadClinicInfo(AppContext& ctx);

// 12345 → "1234-5", 7 → "0-7".
QString FormatKarteNo(FullChartNo n);
// Completed years from birth to asOf; empty when either is not a date.
QString AgeText(const QString& birth, const QDate& asOf);
QString AgeText(const QString& birth, const QString& asOf);

}  // namespace ondrel
