// Writes memos through the program's own store until killed, printing each
// write after its commit has returned: "<key> <text>".
#include <QCoreApplication>
#include <cstdio>

#include "core/app_context.h"
#include "core/console_prompter.h"
#include "data/memo_store.h"

using namespace ondrel;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    ConsolePrompter prompter("crash_writer");
    SystemClock clock;
    NoWaitCursor wait;
    ProcessExit end;
    AppContext ctx(QStringLiteral("."), prompter, clock, wait, end);
    ctx.settings.SystemDB = QString::fromLocal8Bit(argv[1]);
    std::vector<qint32> keys;
    for (qint64 seq = 1;; ++seq) {
        CommonRecord r{0, 1, BaseChartNo(1234), FullChartNo(12345), QStringLiteral("2026/12/10"),
                       {}};
        const QString text = QStringLiteral("%1 改行\r\nあり").arg(seq);
        if (keys.empty() || seq % 3 != 0) {
            r.LText[1] = text;
            r.MainKey = InsertCommon(ctx, r);
            keys.push_back(r.MainKey);
        } else {
            r.MainKey = keys[size_t(seq) % keys.size()];
            r.CreDate = QStringLiteral("2026/12/11");
            r.LText[1] = text;
            (void)UpdateCommon(ctx, r);
        }
        std::printf("%d %lld\n", r.MainKey, seq);
        std::fflush(stdout);
    }
}
