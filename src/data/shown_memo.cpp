#include "data/shown_memo.h"

#include "data/memo_store.h"

namespace ondrel {

ShownMemoOutcome SaveShownMemo(AppContext& ctx, const CommonRecord& memo, int category,
                               BaseChartNo karteNo, FullChartNo chart) {
    const WriteOutcome written = UpdateCommon(ctx, memo);
    if (written == WriteOutcome::Done) return {};
    CommonRecord copy = memo;
    copy.FormCode = category;
    copy.KarteNo = karteNo;
    copy.KarteNoBranch = chart;
    ShownMemoOutcome outcome;
    outcome.page = ShownMemoOutcome::Page::AtMemo;
    outcome.memo = InsertCommon(ctx, copy);
    outcome.warning = written == WriteOutcome::DeletedElsewhere
                          ? QStringLiteral(
                                "このメモは、表示した後に他の端末で削除されていました。\r\n"
                                "画面の内容を新しいメモとして保存しました。")
                          : QStringLiteral(
                                "このメモは、表示した後に他の端末で変更されていました。\r\n"
                                "他の端末の内容はそのまま残し、画面の内容を新しいメモとして"
                                "保存しました。");
    return outcome;
}

ShownMemoOutcome DeleteShownMemo(AppContext& ctx, qint32 mainKey, qint32 rowVersion) {
    ShownMemoOutcome outcome;
    switch (DeleteCommon(ctx, mainKey, rowVersion)) {
        case WriteOutcome::Done:
            outcome.page = ShownMemoOutcome::Page::Latest;
            break;
        case WriteOutcome::ChangedElsewhere:
            outcome.page = ShownMemoOutcome::Page::AtMemo;
            outcome.memo = mainKey;
            outcome.warning = QStringLiteral(
                "このメモは、表示した後に他の端末で変更されていたため、"
                "削除しませんでした。\r\n変更後の内容を表示します。");
            break;
        case WriteOutcome::DeletedElsewhere:
            outcome.page = ShownMemoOutcome::Page::Latest;
            outcome.warning = QStringLiteral("このメモは、既に他の端末で削除されています。");
            break;
    }
    return outcome;
}

QString SettledMessage(const SettledSave& settled) {
    const bool deleted = settled.change.kind == UncertainSave::Kind::Delete;
    const QString what = deleted ? QStringLiteral("削除") : QStringLiteral("保存");
    const QString date = settled.change.sent.CreDate;
    const QString memo =
        deleted || date.isEmpty() ? QStringLiteral("メモ") : QStringLiteral("%1 のメモ").arg(date);
    if (settled.kept) {
        return QStringLiteral(
                   "先ほど完了の知らせが届かなかった%1の%2は、"
                   "サーバーに記録されていました。")
            .arg(memo, what);
    }
    return QStringLiteral(
               "先ほど完了の知らせが届かなかった%1の%2は、"
               "サーバーに記録されていませんでした。")
               .arg(memo, what) +
           (deleted ? QStringLiteral("\r\nメモは削除されていません。")
                    : QStringLiteral("\r\n画面の内容はそのままです。"));
}

}  // namespace ondrel
