#include "core/app_error.h"

#include <QHash>

namespace ondrel {

namespace {

struct Entry {
    int number;
    const char* text;
};

// UTF-8 literals; texts follow the wording clinic staff saw on Windows.
constexpr Entry kCatalogue[] = {
    {err::InvalidProcedureCall, "プロシージャの呼び出し、または引数が不正です。"},
    {err::Overflow, "オーバーフローしました。"},
    {err::OutOfMemory, "メモリが不足しています。"},
    {err::SubscriptOutOfRange, "インデックスが有効範囲にありません。"},
    {err::DivisionByZero, "0 で除算しました。"},
    {err::TypeMismatch, "型が一致しません。"},
    {err::BadFileName, "ファイル名または番号が不正です。"},
    {err::FileNotFound, "ファイルが見つかりません。"},
    {err::FileAlreadyExists, "既に同名のファイルが存在しています。"},
    {err::DiskFull, "ディスクの空き容量が不足しています。"},
    {err::PermissionDenied, "書き込みできません。"},
    {err::PathFileAccessError, "パス名が無効です。"},
    {err::PathNotFound, "パスが見つかりません。"},
    {err::CannotCreateObject, "ActiveX コンポーネントはオブジェクトを作成できません。"},
    {err::Automation, "オートメーション エラーです。"},
    {err::OfficeGone, "リモート サーバーがないか、使用できる状態ではありません。"},
    {err::DatabaseBase + 1, "データベースで SQL エラーが発生しました。"},
    {err::DatabaseBase + 2, "データベース エンジンの内部エラーです。"},
    {err::DatabaseBase + 3, "データベースへのアクセス権がありません。"},
    {err::DatabaseBase + 4, "データベースの処理が中断されました。"},
    {err::DatabaseBase + 5, "データベースが他のプログラムによってロックされています。"},
    {err::DatabaseBase + 6, "データベースのテーブルがロックされています。"},
    {err::DatabaseBase + 7, "データベースの処理でメモリが不足しました。"},
    {err::DatabaseBase + 8, "データベースが読み取り専用のため書き込みできません。"},
    {err::DatabaseBase + 10, "データベース ファイルの読み書きに失敗しました。"},
    {err::DatabaseBase + 11, "データベース ファイルが壊れています。"},
    {err::DatabaseBase + 13, "ディスクがいっぱいのためデータベースに書き込めません。"},
    {err::DatabaseNotOpen, "データベース ファイルを開けません。"},
    {err::DatabaseBase + 17, "データベースの構造が変更されました。"},
    {err::DatabaseBase + 18, "データベースに保存する値が大きすぎます。"},
    {err::DatabaseBase + 19, "データベースの制約に違反しました。"},
    {err::DatabaseBase + 20, "データベースの値の型が一致しません。"},
    {err::DatabaseBase + 26, "ファイルはデータベースではありません。"},
    {err::ItemNotFound,
     "要求された名前、または序数に対応する項目がコレクション内に見つかりません。"},
};

}  // namespace

QString ErrorText(int number) {
    for (const auto& e : kCatalogue) {
        if (e.number == number) return QString::fromUtf8(e.text);
    }
    return QStringLiteral("アプリケーション定義エラーまたはオブジェクト定義エラーです。");
}

QString DatabaseBusyMessage() {
    return QStringLiteral(
        "データベースが他のプログラムで使用中のため、処理できませんでした。\r\n"
        "画面の内容はそのままです。しばらく待ってから、もう一度実行して下さい。");
}

QString ServerUnreachableMessage(const QString& server, const QString& reason) {
    return QStringLiteral("データベースサーバー（") + server +
           QStringLiteral(
               "）に接続できないため、処理できませんでした。\r\n"
               "画面の内容はそのままです。しばらく待ってから、もう一度実行して下さい。") +
           (reason.isEmpty() ? QString() : QStringLiteral("\r\n\r\n理由: ") + reason.trimmed());
}

DatabaseNoRight::DatabaseNoRight(QString detail, const QString& right, const QString& reason)
    : DatabaseBusy(
          err::DatabaseBase + 3, std::move(detail),
          QStringLiteral("データベースへのアクセス権がないため、処理できませんでした") +
              (right.isEmpty() ? QString() : QStringLiteral("（") + right + QStringLiteral("）")) +
              QStringLiteral(
                  "。\r\n画面の内容はそのままです。データベースの所有者が「ondrel-db init」を"
                  "実行し直すか、管理者に連絡して下さい。") +
              (reason.isEmpty() ? QString() : QStringLiteral("\r\n\r\n理由: ") + reason)) {}

int DatabaseErrorNumber(int engineResultCode) {
    // Extended result codes carry the primary code in their low byte.
    const int primary = engineResultCode & 0xff;
    return err::DatabaseBase + (primary == 0 ? 1 : primary);
}

}  // namespace ondrel
