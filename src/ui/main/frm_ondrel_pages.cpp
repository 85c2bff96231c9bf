// The category pages: memo display, date list, history and the memo commands.
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextDocument>
#include <algorithm>

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/memo_text.h"
#include "core/trap.h"
#include "data/japanese_date.h"
#include "data/memo_store.h"
#include "ui/main/date_list_grid.h"
#include "ui/main/frm_ondrel.h"
#include "ui/main/history_panel.h"

namespace ondrel {

namespace {

const QString kDiscardQuestion = QStringLiteral("編集したデータは失われます。よろしいですか。");

void LetEventsRun() { QCoreApplication::processEvents(); }

bool SameDateAndTexts(const CommonRecord& a, const CommonRecord& b) {
    return a.CreDate == b.CreDate && a.LText == b.LText;
}

}  // namespace

void FrmOndrel::SetPageShown(int c, bool shown) { pages_[c]->picGroup->setVisible(shown); }

void FrmOndrel::SetMemoButtons(bool memoShown) {
    for (int i : {3, 4, 5}) cmdProcess[i]->setEnabled(memoShown && (i == 5 || MayWrite()));
    QPalette p = cmdProcess[4]->palette();
    p.setColor(QPalette::Button,
               memoShown ? QColor(255, 192, 192) : QApplication::palette().color(QPalette::Button));
    cmdProcess[4]->setPalette(p);
}

void FrmOndrel::Rtn_DataDispTab(DispMode mode, int c) {
    BusyScope busy(busy_);
    Trap([&] {
        if (mode != DispMode::L && !AskToDiscard(c)) return;
        std::optional<CommonRecord> found;
        if (lblInfo0_) {
            switch (mode) {
                case DispMode::L:
                    found = ReadCommon(ctx_, c, *lblInfo0_, FetchMode::Latest, 0);
                    break;
                case DispMode::D:
                    found = ReadAtRow(c);
                    break;
                case DispMode::W:
                    if (SettleUncertainSave()) return;
                    found = CreateMemo(c);
                    break;
            }
        }
        ShowMemo(c, found);
    });
}

// Asked whenever a memo is shown, edited or not; No puts the list's row back.
bool FrmOndrel::AskToDiscard(int c) {
    const auto& s = ctx_.settings;
    if (pages_[c]->picGroup->isHidden() || s.MessageFlg[3] != 0) return true;
    if (!ctx_.prompter.Question(s.Title, kDiscardQuestion)) {
        FlagScope skip(SkipEventFlg);
        Grid(c).SetCurrentRow(pages_[c]->txtRow - 1);
        return false;
    }
    LetEventsRun();
    return true;
}

std::optional<CommonRecord> FrmOndrel::ReadAtRow(int c) {
    DateListGrid* grid = &Grid(c);
    const int r = grid->CurrentRow() + 1;
    if (r < 1) throw AppError(err::InvalidProcedureCall, QStringLiteral("no date-list row"));
    auto found =
        ReadCommon(ctx_, c, *lblInfo0_, FetchMode::ByKey, grid->Model().Row(r - 1).mainKey);
    pages_[c]->txtRow = r;
    return found;
}

// A new memo dated today with empty texts, listed at the top of the list.
std::optional<CommonRecord> FrmOndrel::CreateMemo(int c) {
    CommonRecord r;
    r.FormCode = c;
    r.KarteNo = *lblInfo0_;
    r.KarteNoBranch = lblInfo1_.value_or(FullChartNo(0));
    r.CreDate = ShortDate(ctx_.clock.Today());
    r.MainKey = InsertCommon(ctx_, r);
    r.RowVersion = 0;
    pages_[c]->txtRow = 1;
    FlagScope skip(SkipEventFlg);
    Grid(c).Model().InsertTop({ParseShortDate(r.CreDate), r.MainKey});
    Grid(c).SetCurrentRow(0);
    return r;
}

// The page's memo state with the memo, or its no-memo state.
void FrmOndrel::ShowMemo(int c, const std::optional<CommonRecord>& memo) {
    if (!memo) {
        pages_[c]->txtMainkey.reset();
        SetMemoButtons(false);
        SetPageShown(c, false);
        return;
    }
    pages_[c]->txtMainkey = memo->MainKey;
    pages_[c]->rowVersion = memo->RowVersion;
    pages_[c]->dtpCreData->setDate(ParseShortDate(memo->CreDate));
    for (int i = 0; i < kCategoryCount; ++i) pages_[i]->txtLData->setPlainText(memo->LText[i]);
    KeepLoadedTexts(c, memo->LText);
    SetMemoButtons(true);
    SetPageShown(c, true);
    tabMain->setFocus();
}

void FrmOndrel::Rtn_DateListDisp(int c) {
    Trap([&] {
        std::vector<DateListRow> rows;
        if (lblInfo0_) rows = ReadDateList(ctx_, c, *lblInfo0_);
        FillDateList(c, std::move(rows));
    });
}

void FrmOndrel::Rtn_PageDisp(int c) {
    Trap([&] {
        std::vector<HistoryEntry> entries;
        if (lblInfo0_) entries = ReadHistory(ctx_, c, *lblInfo0_, HistoryOrder::NewestFirst);
        FillDateList(c, DateListOf(entries));
        Rtn_DataDispTab(DispMode::L, c);
        Past(c).Show(std::move(entries));
    });
}

void FrmOndrel::ShowPageAt(int c, qint32 mainKey) {
    Trap([&] {
        std::vector<HistoryEntry> entries =
            ReadHistory(ctx_, c, *lblInfo0_, HistoryOrder::NewestFirst);
        const auto at = std::find_if(entries.begin(), entries.end(),
                                     [&](const HistoryEntry& e) { return e.mainKey == mainKey; });
        FillDateList(c, DateListOf(entries));
        if (at == entries.end()) {
            Rtn_DataDispTab(DispMode::L, c);
        } else {
            const int row = int(at - entries.begin());
            {
                FlagScope skip(SkipEventFlg);
                Grid(c).SetCurrentRow(row);
            }
            pages_[c]->txtRow = row + 1;
            ShowMemo(c, ReadCommon(ctx_, c, *lblInfo0_, FetchMode::ByKey, mainKey));
        }
        Past(c).Show(std::move(entries));
    });
}

void FrmOndrel::ShowOutcome(int c, const ShownMemoOutcome& outcome) {
    if (!outcome.warning.isEmpty()) ctx_.prompter.Warning(ctx_.settings.Title, outcome.warning);
    switch (outcome.page) {
        case ShownMemoOutcome::Page::AsSaved:
            break;
        case ShownMemoOutcome::Page::AtMemo:
            ShowPageAt(c, outcome.memo);
            break;
        case ShownMemoOutcome::Page::Latest:
            Rtn_PageDisp(c);
            break;
    }
}

void FrmOndrel::FillDateList(int c, std::vector<DateListRow> rows) {
    DateListGrid* grid = &Grid(c);
    grid->setUpdatesEnabled(false);
    {
        FlagScope skip(SkipEventFlg);
        const bool any = !rows.empty();
        grid->Model().Reset(std::move(rows));
        if (any) {
            grid->scrollToTop();
            grid->SetCurrentRow(0);
            pages_[c]->txtRow = 1;
        } else {
            SetPageShown(c, false);
            pages_[c]->txtRow = 0;
        }
    }
    grid->setFocus();
    grid->setUpdatesEnabled(true);
}

void FrmOndrel::grdDateList_RowChange(int c, int row, int previousRow) {
    if (SkipEventFlg || row == previousRow) return;
    if (busy_ > 0) {
        // A pick while a command waits for its work: put the row back.
        FlagScope skip(SkipEventFlg);
        Grid(c).SetCurrentRow(previousRow);
        return;
    }
    if (row >= 0 && c == CurrentTab()) Rtn_DataDispTab(DispMode::D, c);
}

void FrmOndrel::Rtn_PastDisp(int c) {
    Trap([&] {
        Past(c).Show(lblInfo0_ ? ReadHistory(ctx_, c, *lblInfo0_, HistoryOrder::NewestFirst)
                               : std::vector<HistoryEntry>{});
    });
}

void FrmOndrel::KeepLoadedTexts(int c, const std::array<QString, kCategoryCount>& texts) {
    for (int i = 0; i < kCategoryCount; ++i)
        storedText_[i].Load(texts[i], pages_[i]->txtLData->document()->toRawText());
    loadedDate_ = pages_[c]->dtpCreData->date();
}

bool FrmOndrel::PageEdited(int c) const {
    if (pages_[c]->dtpCreData->date() != loadedDate_) return true;
    for (const auto& t : storedText_) {
        if (t.Edited()) return true;
    }
    return false;
}

CommonRecord FrmOndrel::Rtn_DataGet() const {
    const int t = txtBeforeTab;
    CommonRecord r;
    if (!pages_[t]->txtMainkey)
        throw AppError(err::TypeMismatch, QStringLiteral("no memo on the page"));
    r.MainKey = *pages_[t]->txtMainkey;
    r.RowVersion = pages_[t]->rowVersion;
    r.CreDate = ShortDate(pages_[t]->dtpCreData->date());
    // Apostrophes are kept: every value is bound, so the box and the store agree.
    for (int i = 0; i < kCategoryCount; ++i) r.LText[i] = storedText_[i].Stored();
    return r;
}

ReportInfo FrmOndrel::ReportHeader() const {
    ReportInfo r;
    r.KarteNo = lblInfo[0]->text();
    r.PatientName = lblInfo[2]->text();
    r.CategoryName = pages_[CurrentTab()]->lblTitle->text();
    return r;
}

ReportInfo FrmOndrel::MemoReport() const {
    const int c = CurrentTab();
    ReportInfo r = ReportHeader();
    r.DateText = ShortDate(pages_[c]->dtpCreData->date());
    r.MemoText = pages_[c]->txtLData->toPlainText();
    return r;
}

bool FrmOndrel::Rtn_DataSave(bool ask) {
    BusyScope busy(busy_);
    return Trap([&] {
        const auto& s = ctx_.settings;
        if (ask && s.MessageFlg[1] == 0 &&
            !ctx_.prompter.Question(s.Title,
                                    QStringLiteral("データを保存します。よろしいですか。"))) {
            return;
        }
        LetEventsRun();
        if (SettleUncertainSave()) return;
        const int t = txtBeforeTab;
        // Only a page that shows a memo in a shown window is saved. Qt has already
        // switched pages when a category change saves the one being left, so
        // the page's own state counts, not what the tab widget shows now.
        if (t < 0 || t >= kCategoryCount || !isVisible() || !tabMain->isVisibleTo(this) ||
            pages_[t]->picGroup->isHidden()) {
            return;
        }
        // A memo only looked at is not written again: nothing of it changes,
        // and a busy database cannot hold up a change of category or patient.
        if (!ask && !PageEdited(t)) return;
        // A clerk's boxes are read-only: nothing of theirs is written.
        if (!MayWrite()) return;
        const CommonRecord memo = Rtn_DataGet();
        const ShownMemoOutcome outcome =
            SaveShownMemo(ctx_, memo, t, *lblInfo0_, lblInfo1_.value_or(FullChartNo(0)));
        if (outcome.page != ShownMemoOutcome::Page::AsSaved) {
            ShowOutcome(t, outcome);
            return;
        }
        TakeSaved(t, memo);
    });
}

// The page holds what was just written as the memo's next version.
void FrmOndrel::TakeSaved(int t, const CommonRecord& memo) {
    pages_[t]->rowVersion = memo.RowVersion + 1;
    KeepLoadedTexts(t, memo.LText);
    DateListGrid* grid = &Grid(t);
    const int row = grid->CurrentRow();
    const QDate saved = ParseShortDate(memo.CreDate);
    if (row >= 0 && grid->Text(row, 1) != memo.CreDate) grid->Model().SetDate(row, saved);
    // The history as a full rebuild would show it, from the values just written.
    Past(t).Update(memo.MainKey, saved, memo.LText[t]);
}

// A change whose COMMIT the server never answered: once it answers, the user
// is told whether it was kept, and a page still showing that memo takes it.
// True when a page was shown anew (the command that asked then ends).
bool FrmOndrel::SettleUncertainSave() {
    const auto settled = ondrel::SettleUncertainSave(ctx_);
    if (!settled) return false;
    ctx_.prompter.Information(ctx_.settings.Title, SettledMessage(*settled));
    if (!settled->kept || !lblInfo0_) return false;
    const UncertainSave& change = settled->change;
    for (int c = 0; c < kCategoryCount; ++c) {
        const auto& shown = pages_[c]->txtMainkey;
        switch (change.kind) {
            case UncertainSave::Kind::Update:
                // Its next save goes on from the kept version, not into a conflict.
                if (shown == change.mainKey && pages_[c]->rowVersion == change.rowVersion - 1) {
                    CommonRecord kept = change.sent;
                    kept.RowVersion = pages_[c]->rowVersion;
                    if (c == txtBeforeTab && SameDateAndTexts(Rtn_DataGet(), kept)) {
                        TakeSaved(c, kept);
                    } else {
                        pages_[c]->rowVersion = change.rowVersion;  // typed on since
                    }
                }
                break;
            case UncertainSave::Kind::Delete:
                if (shown == change.mainKey) {
                    Rtn_PageDisp(c);
                    return true;
                }
                break;
            case UncertainSave::Kind::Insert: {
                // The new memo is shown unless that would drop what was typed since.
                if (c != change.sent.FormCode || *lblInfo0_ != change.sent.KarteNo) break;
                const bool onScreen =
                    c == txtBeforeTab && shown && SameDateAndTexts(Rtn_DataGet(), change.sent);
                if (PageEdited(c) && !onScreen) break;
                ShowPageAt(c, change.mainKey);
                return true;
            }
        }
    }
    return false;
}

void FrmOndrel::Rtn_DataDelete() {
    BusyScope busy(busy_);
    Trap([&] {
        if (!ctx_.prompter.Question(
                ctx_.settings.Title,
                QStringLiteral("表示中のデータを削除します。よろしいですか。"))) {
            return;
        }
        LetEventsRun();
        if (SettleUncertainSave()) return;
        const int c = CurrentTab();
        if (!pages_[c]->txtMainkey) return;
        ShowOutcome(c, DeleteShownMemo(ctx_, *pages_[c]->txtMainkey, pages_[c]->rowVersion));
    });
}

void FrmOndrel::cmdProcess_Click(int index) {
    if (busy_ > 0) return;  // a second click while a command waits
    switch (index) {
        case 0:
            Rtn_DataDispTab(DispMode::W, CurrentTab());
            break;
        case 3:
            Rtn_DataDelete();
            break;
        case 4:
            Rtn_DataSave(true);
            break;
        case 5: {
            // The memo is saved before anything of the report can fail; a
            // memo that cannot be written is not reported either.
            if (!Rtn_DataSave(false)) break;
            BusyScope busy(busy_);
            if (chkPrintFlg->isChecked()) {
                if (openPrintDialog) openPrintDialog(*this);
            } else if (printMemo) {
                // An office that cannot start is told; the window stays as it is.
                Trap([&] { printMemo(*this); });
            }
            break;
        }
        case 6:
            close();
            break;
        case 7:
            if (openSettings) openSettings(*this);
            Rtn_TabSet();
            break;
        default:
            break;
    }
}

}  // namespace ondrel
