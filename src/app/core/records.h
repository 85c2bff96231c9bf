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

// The memo being shown or written; an empty text stands for NULL.
struct CommonRecord {
    qint32 MainKey = 0;
    qint32 FormCode = 0;
    qint32 KarteNo = 0;
    qint32 KarteNoBranch = 0;
    QString CreDate;  // "yyyy/MM/dd"
    std::array<QString, kCategoryCount> LText;
};

struct PatientInfo {
    qint32 ChartNo = -1;
    QString Name;
    QString Kana;
    QString Sex;
    QString BirthDate;  // era form "ge/m/d"
    QString Tel;
    QString ZipCode;
    QString Address;
    QString Job;
    qint32 BaseNo = -1;
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
