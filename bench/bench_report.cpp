// The report on a running office, with a cold office on a kept profile, and
// the floor: soffice --headless --convert-to xls of the same template.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "core/app_context.h"
#include "core/console_prompter.h"
#include "median.h"
#include "report/guidance_report.h"
#include "report/office.h"

using namespace ondrel;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/prog";
    QDir().mkpath(folder + "/Template");
    QDir().mkpath(folder + "/帳票");
    const QString tmpl = QStringLiteral(ONDREL_TEMPLATE);
    QFile::copy(tmpl, folder + "/Template/指導指示管理.xls");
    ConsolePrompter prompter("bench");
    SystemClock clock;
    NoWaitCursor wait;
    ProcessExit end;
    AppContext ctx(folder, prompter, clock, wait, end);
    const ReportInfo report{"1234", "山田　太郎", "所見補助１", "2024/04/01",
                            "塩分を控えめに。\r\n毎日散歩。"};

    OfficeConfig config;
    config.pipeName = QStringLiteral("ondrel-bench-%1").arg(QCoreApplication::applicationPid());
    config.profileDir = dir.path() + "/profile";
    {
        Office warm(config);  // makes and seeds the profile
        Rtn_GuidanceReport(ctx, warm, report, std::nullopt);
        warm.Terminate();
    }
    const double cold = bench::Median(
        [&] {
            Office office(config);
            Rtn_GuidanceReport(ctx, office, report, std::nullopt);
            office.Terminate();
        },
        5);
    Office running(config);
    running.Connect();
    const double hot =
        bench::Median([&] { Rtn_GuidanceReport(ctx, running, report, std::nullopt); }, 15);
    running.Terminate();
    const double floor = bench::Median(
        [&] {
            QProcess p;
            p.start("soffice", {"-env:UserInstallation=file://" + dir.path() + "/convert-profile",
                                "--headless", "--norestore", "--convert-to", "xls:MS Excel 97",
                                "--outdir", dir.path() + "/out", tmpl});
            p.waitForFinished(60000);
        },
        5);
    std::printf("%-34s %10.3f s %12s %7s  ≤ 0.1 s\n", "report, running office", hot, "-", "-");
    std::printf("%-34s %10.3f s %10.3f s %6.2f×  ratio ≤ 0.5×\n",
                "report, cold office (kept profile)", cold, floor, cold / floor);
    return 0;
}
