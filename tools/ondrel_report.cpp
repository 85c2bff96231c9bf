// The guidance report without the window, for a patient's records in bulk
// and for checks:
//   ondrel-report [--folder PROGRAM_FOLDER] --chart N --category K [--date D | --from D --to D]
// Without --date the latest memo of the category is reported. Never shows a
// window; ends the office it started, not one that was already running.
#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <cstdio>
#include <optional>

#include "core/app_context.h"
#include "core/app_settings.h"
#include "core/console_prompter.h"
#include "core/db_target.h"
#include "core/program_folder.h"
#include "core/trap.h"
#include "data/japanese_date.h"
#include "data/memo_store.h"
#include "data/patient_lookup.h"
#include "data/system_master.h"
#include "report/guidance_report.h"
#include "report/office.h"

namespace {

using namespace ondrel;

struct Ended {
    int status;
};

class ThrowEnd final : public ProgramEnd {
  public:
    [[noreturn]] void End(int status) override { throw Ended{status}; }
};

int Fail(const char* message) {
    std::fprintf(stderr, "ondrel-report: %s\n", message);
    return 1;
}

}  // namespace

constexpr const char* kUsage =
    "使い方: ondrel-report [--folder PROGRAM_FOLDER] --chart N --category K "
    "[--date D | --from D --to D] [--pdf FILE | --printer NAME]\n"
    "  指導指示の帳票を PROGRAM_FOLDER/帳票 に保存し、そのパスを表示します。\n"
    "  PROGRAM_FOLDER の既定は、画面のプログラムが使うのと同じフォルダです。\n"
    "  N は患者のカルテ番号 (数字)、K は分類 0～6、日付は yyyy/mm/dd。\n"
    "  --printer はそのプリンタへ直接印刷します（\"\" で既定のプリンタ）。\n";

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QString folder, chart, category, date, from, to, pdf;
    std::optional<QString> printer;
    bool unknown = false;
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        const QString& key = args[i];
        const QString& value = args[i + 1];
        if (key == u"--folder")
            folder = value;
        else if (key == u"--chart")
            chart = value;
        else if (key == u"--category")
            category = value;
        else if (key == u"--date")
            date = value;
        else if (key == u"--from")
            from = value;
        else if (key == u"--to")
            to = value;
        else if (key == u"--pdf")
            pdf = QFileInfo(value).absoluteFilePath();
        else if (key == u"--printer")
            printer = value;
        else
            unknown = true;
    }
    if (folder.isEmpty()) folder = ProgramFolderFor(QCoreApplication::applicationDirPath());
    bool chartOk = false, categoryOk = false;
    const qint32 n = chart.toInt(&chartOk);
    const int k = category.toInt(&categoryOk);
    if (args.size() % 2 != 0 || unknown || !chartOk || !categoryOk || k < 0 || k > 6 ||
        (!date.isEmpty() && !from.isEmpty()) || from.isEmpty() != to.isEmpty() ||
        (printer && !pdf.isEmpty())) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!QFileInfo(folder + QStringLiteral("/Ondrel.ini")).isFile()) {
        std::fprintf(stderr, "ondrel-report: プログラムフォルダに Ondrel.ini がありません: %s\n",
                     qPrintable(folder));
        return 1;
    }

    ConsolePrompter prompter("ondrel-report");
    SystemClock clock;
    NoWaitCursor wait;
    ThrowEnd end;
    AppContext ctx(folder, prompter, clock, wait, end);
    OfficeConfig config = OfficeConfig::For(folder);
    config.withDisplay = false;
    Office office(config);
    int status = 0;
    ReportInfo report;
    try {
        LoadSettings(ctx);
        // A server URI the program does not accept is told for what it is,
        // not as a patient that is not registered.
        if (const DbTarget t = DbTarget::Of(ctx.settings.SystemDB); t.IsServer() && !t.Server())
            return Fail(t.Problem().toUtf8().constData());
        const auto patient = LookUpPatient(ctx, FullChartNo(n));
        if (!patient) return Fail("カルテ番号が登録されていません。");
        const BaseChartNo karteNo = patient->BaseNo;
        ReportInfo r;
        r.KarteNo = QString::number(karteNo.value);
        r.PatientName = patient->Name;
        if (const auto m = Rtn_MasterRead(ctx)) r.CategoryName = m->Name[k];
        if (!from.isEmpty()) {
            const QDate f = ParseShortDate(from), t = ParseShortDate(to);
            if (!f.isValid() || !t.isValid()) return Fail("日付が正しくありません。");
            r.DateText = FormatEraLong(f) + QStringLiteral(" ～ ") + FormatEraLong(t);
            r.MemoText = HistoryText(ctx, k, karteNo, HistoryOrder::OldestFirst, f, t);
        } else {
            auto found = ReadCommon(ctx, k, karteNo, FetchMode::Latest, 0);
            if (!date.isEmpty()) {
                // The latest memo of that day.
                const QDate d = ParseShortDate(date);
                if (!d.isValid()) return Fail("日付が正しくありません。");
                found.reset();
                for (const auto& row : ReadDateList(ctx, k, karteNo)) {
                    if (row.date == d) {
                        found = ReadCommon(ctx, k, karteNo, FetchMode::ByKey, row.mainKey);
                        break;
                    }
                }
            }
            if (!found) return Fail("指定の指導指示がありません。");
            r.DateText = found->CreDate;
            r.MemoText = found->LText[k];
        }
        report = r;
        MakeReport(ctx, office, report, patient->ChartNo, ReportOutput{pdf, printer});
        // The template was missing, the PDF's folder, the printer.
        if (prompter.told) status = 1;
    } catch (const Ended& e) {
        status = e.status == 0 ? 1 : e.status;
    } catch (const DatabaseBusy&) {
        status =
            Fail("データベースが他のプログラムで使用中です。しばらく待ってから実行して下さい。");
    }
    if (office.StartedHere()) office.Terminate();
    if (status == 0) std::printf("%s\n", qPrintable(ReportOutputPath(ctx, report.KarteNo)));
    if (status == 0 && !pdf.isEmpty()) std::printf("%s\n", qPrintable(pdf));
    return status;
}
