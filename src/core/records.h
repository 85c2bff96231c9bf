#pragma once

#include <QString>
#include <QtGlobal>
#include <array>

namespace ondrel {

struct AppSettings {
    QString Title;
    QString SystemDB;
    std::array<qint16, 4> MessageFlg{};  // indexed 1..3 as the keys are; [0] unused
    qint16 KarteNoInput = 0;
    qint16 DefaultTab = 0;
    qint16 PrintFlg = 0;
    qint16 WindowTop = 0;
    QString StartKarteNo;
};

inline constexpr int kCategoryCount = 7;

// The two chart numbers (see HACKING.md, glossary). Distinct types, so that
// the compiler stops one being passed for the other.
// FullChartNo: the chart system's number with its check digit, 12345
// (KarteNoBranch, lblInfo(1)); BaseChartNo: without it, 1234 (KarteNo,
// lblInfo(0)), the number memos are listed by.
struct FullChartNo {
    qint32 value = 0;
    constexpr FullChartNo() = default;
    constexpr explicit FullChartNo(qint32 v) : value(v) {}
    friend constexpr bool operator==(FullChartNo, FullChartNo) = default;
};

struct BaseChartNo {
    qint32 value = 0;
    constexpr BaseChartNo() = default;
    constexpr explicit BaseChartNo(qint32 v) : value(v) {}
    friend constexpr bool operator==(BaseChartNo, BaseChartNo) = default;
};

// The full number without its last digit (rounded down; 0 below 10).
constexpr BaseChartNo BaseOf(FullChartNo n) { return BaseChartNo(n.value <= 9 ? 0 : n.value / 10); }

// A memo as read or to be written; an empty text stands for NULL.
struct CommonRecord {
    qint32 MainKey = 0;
    qint32 FormCode = 0;
    BaseChartNo KarteNo;
    FullChartNo KarteNoBranch;
    QString CreDate;  // "yyyy/MM/dd"
    std::array<QString, kCategoryCount> LText;
    qint32 RowVersion = 0;  // raised by every update; a save applies to the version read
};

struct PatientInfo {
    FullChartNo ChartNo;
    QString Name;
    QString Kana;
    QString Sex;
    QString BirthDate;  // era form "ge/m/d"
    QString Tel;
    QString ZipCode;
    QString Address;
    QString Job;
    BaseChartNo BaseNo;
};

struct ClinicInfo {
    QString ClinicName;
    QString ClinicZip;
    QString ClinicAddress;
    QString ClinicTel;
    QString ClinicFax;
    QString Doctor;
};

struct ReportInfo {
    QString KarteNo;
    QString PatientName;
    QString CategoryName;
    QString DateText;
    QString MemoText;
};

}  // namespace ondrel
