#include "schema.h"

#include <QStringList>

#include "db_connection.h"

namespace ondrel {

void CreateSchema(DbConnection& cn) {
    // A rollback journal, not WAL: clinics keep the file on a shared folder.
    RunChange(cn, QStringLiteral("PRAGMA journal_mode=DELETE"));
    BeginTransaction(cn);
    QStringList texts;
    for (int i = 0; i < 7; ++i) texts << QStringLiteral("LText%1 TEXT").arg(i, 3, 10, QChar(u'0'));
    const QStringList statements{
        QStringLiteral("CREATE TABLE tblDatCommon (MainKey INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "FormCode INTEGER NOT NULL, KarteNo INTEGER NOT NULL, "
                       "KarteNoBranch INTEGER NOT NULL, CreDate DATE NOT NULL, ") +
            texts.join(QStringLiteral(", ")) + u')',
        QStringLiteral("CREATE INDEX idxDatCommonList ON tblDatCommon "
                       "(FormCode, KarteNo, CreDate, MainKey)"),
        QStringLiteral("CREATE TABLE tblMasSystemA (Name01 TEXT, Name02 TEXT, Name03 TEXT, "
                       "Name04 TEXT, Name05 TEXT, Name06 TEXT, Name07 TEXT, Check02 TEXT, "
                       "Check03 TEXT, Check04 TEXT, Check05 TEXT, Check06 TEXT, Check07 TEXT)"),
        QStringLiteral("CREATE TABLE 患者マスター (カルテ番号 INTEGER PRIMARY KEY, 氏名 TEXT, "
                       "フリガナ TEXT, 性別コード TEXT, 年号 TEXT, 生年 TEXT, 月 TEXT, 日 TEXT, "
                       "TEL TEXT, 郵便番号 TEXT, 住所１ TEXT, 住所２ TEXT, 職業 TEXT)"),
        QStringLiteral("CREATE INDEX idx患者マスターカルテ番号 ON 患者マスター (カルテ番号)"),
        QStringLiteral("CREATE TABLE 医院情報 (医院名称 TEXT, 医院郵便番号 TEXT, 医院所在地 TEXT, "
                       "医院電話番号 TEXT, 医院FAX番号 TEXT, 管理医師 TEXT)"),
    };
    for (const QString& sql : statements) RunChange(cn, sql);
    CommitTransaction(cn);
}

}  // namespace ondrel
