// A second workstation on the same system database, as its own process:
//   other_workstation DB change KEY CATEGORY CHART TEXT   appends TEXT to the memo's text
//   other_workstation DB delete KEY CATEGORY CHART        deletes the memo
#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>

#include "data/memo_store.h"
#include "test_support.h"

using namespace ondrel;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList a = QCoreApplication::arguments();
    if (a.size() < 6) return 2;
    test::TestProgram p;
    p.ctx->settings.SystemDB = a[1];
    const qint32 key = a[3].toInt();
    const int category = a[4].toInt();
    const BaseChartNo chart(a[5].toInt() / 10);
    auto memo = ReadCommon(*p.ctx, category, chart, FetchMode::ByKey, key);
    if (!memo) return 3;
    WriteOutcome outcome;
    if (a[2] == u"change" && a.size() == 7) {
        memo->LText[category] += a[6];
        outcome = UpdateCommon(*p.ctx, *memo);
    } else if (a[2] == u"delete") {
        outcome = DeleteCommon(*p.ctx, key, memo->RowVersion);
    } else {
        return 2;
    }
    return outcome == WriteOutcome::Done ? 0 : 4;
}
