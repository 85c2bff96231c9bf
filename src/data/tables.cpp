#include "tables.h"

namespace ondrel::tables {

QString TextColumn(int category) {
    return QStringLiteral("LText%1").arg(category, 3, 10, QChar(u'0'));
}

const QStringList& MemoValueColumns() {
    static const QStringList columns = [] {
        QStringList c{QStringLiteral("FormCode"), QStringLiteral("KarteNo"),
                      QStringLiteral("KarteNoBranch"), QStringLiteral("CreDate")};
        for (int k = 0; k < kTextColumns; ++k) c << TextColumn(k);
        return c;
    }();
    return columns;
}

const QString& MemoInsert() {
    static const QString sql = [] {
        QStringList marks;
        for (qsizetype i = 0; i < MemoValueColumns().size(); ++i) marks << QStringLiteral("?");
        return QStringLiteral("Insert Into tblDatCommon (") +
               MemoValueColumns().join(QStringLiteral(", ")) + QStringLiteral(") Values (") +
               marks.join(u',') + u')';
    }();
    return sql;
}

const QString& MemoOrderNewestFirst() {
    static const QString order = QStringLiteral("CreDate Desc, MainKey Desc");
    return order;
}

const QString& MemoOrderOldestFirst() {
    static const QString order = QStringLiteral("CreDate Asc, MainKey Asc");
    return order;
}

QString NameColumn(int category) {
    return QStringLiteral("Name%1").arg(category + 1, 2, 10, QChar(u'0'));
}

QString CheckColumn(int category) {
    return QStringLiteral("Check%1").arg(category + 1, 2, 10, QChar(u'0'));
}

const QStringList& PatientColumns() {
    static const QStringList columns{
        QStringLiteral("カルテ番号"), QStringLiteral("氏名"),   QStringLiteral("フリガナ"),
        QStringLiteral("性別コード"), QStringLiteral("年号"),   QStringLiteral("生年"),
        QStringLiteral("月"),         QStringLiteral("日"),     QStringLiteral("TEL"),
        QStringLiteral("郵便番号"),   QStringLiteral("住所１"), QStringLiteral("住所２"),
        QStringLiteral("職業")};
    return columns;
}

const QStringList& ClinicColumns() {
    static const QStringList columns{QStringLiteral("医院名称"),    QStringLiteral("医院郵便番号"),
                                     QStringLiteral("医院所在地"),  QStringLiteral("医院電話番号"),
                                     QStringLiteral("医院FAX番号"), QStringLiteral("管理医師")};
    return columns;
}

const QStringList& SchemaStatements() {
    static const QStringList statements = [] {
        QStringList texts, names, checks, patient, clinic;
        for (int k = 0; k < kTextColumns; ++k) texts << TextColumn(k) + QStringLiteral(" TEXT");
        for (int k = 0; k < kTextColumns; ++k) names << NameColumn(k) + QStringLiteral(" TEXT");
        for (int k = 1; k < kTextColumns; ++k) checks << CheckColumn(k) + QStringLiteral(" TEXT");
        for (const QString& c : PatientColumns().mid(1)) patient << c + QStringLiteral(" TEXT");
        for (const QString& c : ClinicColumns()) clinic << c + QStringLiteral(" TEXT");
        const QString sep = QStringLiteral(", ");
        return QStringList{
            QStringLiteral("CREATE TABLE tblDatCommon (MainKey INTEGER PRIMARY KEY AUTOINCREMENT, "
                           "FormCode INTEGER NOT NULL, KarteNo INTEGER NOT NULL, "
                           "KarteNoBranch INTEGER NOT NULL, CreDate DATE NOT NULL, ") +
                texts.join(sep) + u')',
            QStringLiteral("CREATE INDEX idxDatCommonList ON tblDatCommon "
                           "(FormCode, KarteNo, CreDate, MainKey)"),
            QStringLiteral("CREATE TABLE tblMasSystemA (") + (names + checks).join(sep) + u')',
            QStringLiteral("CREATE TABLE 患者マスター (カルテ番号 INTEGER PRIMARY KEY, ") +
                patient.join(sep) + u')',
            QStringLiteral("CREATE INDEX idx患者マスターカルテ番号 ON 患者マスター (カルテ番号)"),
            QStringLiteral("CREATE TABLE 医院情報 (") + clinic.join(sep) + u')',
        };
    }();
    return statements;
}

}  // namespace ondrel::tables
