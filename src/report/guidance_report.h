#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "core/records.h"

namespace ondrel {

struct AppContext;
class Office;
class OfficeDocument;

inline constexpr const char* kTemplateName = "指導指示管理.xls";

// What the report writes, worked out from ReportInfo before the office is touched.
struct ReportCells {
    QString sheetName;  // empty: keep the template's sheet name
    QString a2;
    QString c2;
    QString a4;
    QString a6;
    // Text lines the memo takes in the memo area (one a row), wrapping counted.
    int memoLines = 0;
};

// A name an .xls sheet can take: 1 to 31 characters, none of []*?:/\ and no
// apostrophe at either end.
bool SheetNameAcceptable(const QString& name);
ReportCells ComposeReport(const ReportInfo& info);
// Lines a memo text ("\n" between lines) takes in the memo area.
int MemoLines(const QString& text);
QString ReportOutputPath(const AppContext& ctx, const QString& karteNo);

// The spreadsheet layer, in the order the report calls it.
bool Rtn_ExcelStart(Office& office);
bool Rtn_ExcelOpen(AppContext& ctx, Office& office, std::unique_ptr<OfficeDocument>& doc,
                   const QString& templateName);
bool Rtn_ExcelSave(AppContext& ctx, Office& office, OfficeDocument& doc, const QString& outputPath,
                   bool show = true);
void Rtn_ExcelFront(Office& office);

// Fills the template from the report's texts, saves it to 帳票 and shows it
// (with a display). A missing template is told and nothing is written; any
// other failure goes to the error report. A report made is an access record of
// `chart`, the patient's full chart number (none: no patient was shown).
// With `pdf`, the printed pages are also written there as PDF (the owner's
// alone) and the workbook is not shown; false when the PDF could not be
// written (told; the workbook is saved all the same).
bool Rtn_GuidanceReport(AppContext& ctx, Office& office, const ReportInfo& report,
                        std::optional<FullChartNo> chart, const QString& pdf = {});
// The same, printed straight to `printer` (empty: the default) without a
// window; false when it could not be (told: no such printer, paused; the
// workbook is saved all the same).
bool Rtn_GuidancePrint(AppContext& ctx, Office& office, const ReportInfo& report,
                       std::optional<FullChartNo> chart, const QString& printer);
// Where a report goes besides its workbook in 帳票: shown when neither.
struct ReportOutput {
    QString pdf;
    std::optional<QString> printer;
};
bool MakeReport(AppContext& ctx, Office& office, const ReportInfo& report,
                std::optional<FullChartNo> chart, const ReportOutput& output);
// 帳票/指導指示管理-<base chart number>.pdf
QString ReportPdfPath(const AppContext& ctx, const QString& karteNo);

}  // namespace ondrel
