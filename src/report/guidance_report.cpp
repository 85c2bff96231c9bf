#include "report/guidance_report.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cmath>

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/trap.h"
#include "data/access_log.h"
#include "data/japanese_date.h"
#include "report/office.h"
#include "report/printers.h"

namespace ondrel {

namespace {

// "2024/04/01", also with a time of day after it.
std::optional<QDate> ReadsAsDate(const QString& text) {
    static const QRegularExpression kTime(QStringLiteral("\\s+\\d{1,2}:\\d{2}(:\\d{2})?$"));
    QString t = text.trimmed();
    t.remove(kTime);
    return ParseDateText(t);
}

}  // namespace

bool SheetNameAcceptable(const QString& name) {
    static const QRegularExpression kForbidden(QStringLiteral("[\\[\\]*?:/\\\\]"));
    return !name.isEmpty() && name.size() <= 31 && !name.contains(kForbidden) &&
           !name.startsWith(u'\'') && !name.endsWith(u'\'');
}

int MemoLines(const QString& text) {
    // The memo area is 16.8 cm (476 pt) wide; a wide character takes the
    // font's 11 pt, a narrow one at most 0.6 of it. Counting a line too many
    // only leaves an empty row; one too few would lose text on paper.
    constexpr double kWidthPt = 476, kWidePt = 11, kNarrowPt = 6.6;
    int lines = 0;
    for (const QString& line : text.split(u'\n')) {
        double width = 0;
        for (const QChar c : line) width += c.unicode() < 0x2000 ? kNarrowPt : kWidePt;
        lines += std::max(1, int(std::ceil(width / kWidthPt)));
    }
    return lines;
}

ReportCells ComposeReport(const ReportInfo& info) {
    ReportCells c;
    c.sheetName = SheetNameAcceptable(info.CategoryName) ? info.CategoryName : QString();
    c.a2 = info.CategoryName;
    const auto date = ReadsAsDate(info.DateText);
    c.c2 = date ? FormatEraLong(*date) : info.DateText;
    c.a4 = info.KarteNo + QStringLiteral("\u3000\u3000") + info.PatientName;
    c.a6 = info.MemoText;
    c.a6.remove(u'\r');
    c.memoLines = MemoLines(c.a6);
    return c;
}

QString ReportPdfPath(const AppContext& ctx, const QString& karteNo) {
    return ReportFolderPath(ctx) + QStringLiteral("/指導指示管理-") + karteNo +
           QStringLiteral(".pdf");
}

QString ReportOutputPath(const AppContext& ctx, const QString& karteNo) {
    return ReportFolderPath(ctx) + QStringLiteral("/指導指示管理-") + karteNo +
           QStringLiteral(".xls");
}

bool Rtn_ExcelStart(Office& office) {
    office.Connect();
    return true;
}

bool Rtn_ExcelOpen(AppContext& ctx, Office& office, std::unique_ptr<OfficeDocument>& doc,
                   const QString& templateName) {
    const QString path = ctx.ProgramFolder + QStringLiteral("/Template/") + templateName;
    const QFileInfo info(path);
    // An empty file is no workbook either; the office would take it for text.
    if (!info.isFile() || info.size() == 0) {
        ctx.prompter.Warning(
            ctx.settings.Title,
            QStringLiteral("テンプレートファイルが指定のフォルダに存在しません。"));
        return false;
    }
    Rtn_ExcelStart(office);
    doc = Watched(office, [&] { return office.LoadTemplate(path); });
    return true;
}

bool Rtn_ExcelSave(AppContext& ctx, Office& office, OfficeDocument& doc, const QString& outputPath,
                   bool show) {
    const QFileInfo folder(QFileInfo(outputPath).absolutePath());
    if (!folder.isDir()) throw AppError(err::PathNotFound, outputPath);
    Watched(office, [&] {
        office.CloseDocumentsAt(outputPath);
        doc.StoreAs(outputPath);  // the user's alone, as the database
        if (show && office.HasDisplay()) doc.Show();
    });
    Q_UNUSED(ctx);
    return true;
}

void Rtn_ExcelFront(Office& office) { office.BringToFront(); }

namespace {

// One attempt at the report; false when the template is missing (told).
// `sent` is set when the PDF asked for was written or the printer took it.
bool WriteReport(AppContext& ctx, Office& office, const ReportCells& cells, const QString& karteNo,
                 const ReportOutput& out, bool* sent) {
    const QString& pdf = out.pdf;
    std::unique_ptr<OfficeDocument> doc;
    if (!Rtn_ExcelOpen(ctx, office, doc, QString::fromUtf8(kTemplateName))) return false;
    Watched(office, [&] {
        if (!cells.sheetName.isEmpty()) doc->RenameFirstSheet(cells.sheetName);
        doc->SetCellText(2, 1, cells.a2);
        doc->SetCellText(2, 3, cells.c2);
        doc->SetCellText(4, 1, cells.a4);
        doc->SetCellText(6, 1, cells.a6);
        // A memo longer than the area gets the rows it needs, on further pages
        // under the repeated header, instead of being cut off on paper.
        doc->ExtendMergedRows(6, 1, cells.memoLines);
    });
    const bool shown = pdf.isEmpty() && !out.printer;
    Rtn_ExcelSave(ctx, office, *doc, ReportOutputPath(ctx, karteNo), shown);
    if (out.printer) {
        doc->Close();
        QString printer;
        if (const QString problem = PrinterProblem(*out.printer, &printer); !problem.isEmpty()) {
            ctx.prompter.Warning(ctx.settings.Title,
                                 QStringLiteral("印刷できません。") + problem +
                                     QStringLiteral("\r\n帳票のファイルは保存してあります。"));
            return true;
        }
        // From the workbook as saved, as the PDF: its pages as they print.
        Watched(office, [&] {
            auto saved = office.LoadForReading(ReportOutputPath(ctx, karteNo));
            saved->Print(printer);
            saved->Close();
        });
        *sent = true;
        return true;
    }
    if (!pdf.isEmpty()) {
        const QFileInfo folder(QFileInfo(pdf).absolutePath());
        if (!folder.isDir() || !folder.isWritable() ||
            (QFileInfo::exists(pdf) && !QFileInfo(pdf).isWritable())) {
            ctx.prompter.Warning(
                ctx.settings.Title,
                QStringLiteral("PDF を保存できません（フォルダーに書き込めません）。"
                               "\r\n帳票のファイルは保存してあります。\r\n") +
                    pdf);
        } else {
            // From the workbook as saved: the one in hand still has the
            // template's pages (a long memo came out on one page).
            doc->Close();
            Watched(office, [&] {
                auto saved = office.LoadForReading(ReportOutputPath(ctx, karteNo));
                saved->ExportPdf(pdf);
                saved->Close();
            });
            *sent = true;
            return true;
        }
    }
    // Without a display nobody can look at it: the saved file is the report.
    if (!office.HasDisplay() || !shown) doc->Close();
    return true;
}

}  // namespace

bool Rtn_GuidanceReport(AppContext& ctx, Office& office, const ReportInfo& report,
                        std::optional<FullChartNo> chart, const QString& pdf) {
    return MakeReport(ctx, office, report, chart, ReportOutput{pdf, std::nullopt});
}

bool Rtn_GuidancePrint(AppContext& ctx, Office& office, const ReportInfo& report,
                       std::optional<FullChartNo> chart, const QString& printer) {
    return MakeReport(ctx, office, report, chart, ReportOutput{QString(), printer});
}

bool MakeReport(AppContext& ctx, Office& office, const ReportInfo& report,
                std::optional<FullChartNo> chart, const ReportOutput& output) {
    WaitCursorGuard wait(ctx.waitCursor);
    bool sent = false;
    WithTrap(ctx, nullptr, [&] {
        const ReportCells cells = ComposeReport(report);
        try {
            WriteReport(ctx, office, cells, report.KarteNo, output, &sent);
        } catch (const AppError& e) {
            // An office that was already running may be left in a bad state (by
            // another program, or hung): a fresh one gets the report once more.
            if (office.JustStarted() || e.number() == err::PathNotFound) throw;
            office.Discard();
            WriteReport(ctx, office, cells, report.KarteNo, output, &sent);
        }
        // The full number, as every other record has it: the report's own
        // KarteNo is the base number the sheet shows.
        if (chart) QueueAccess(ctx, *chart, AccessAction::Report);
    });
    return sent;
}

}  // namespace ondrel
