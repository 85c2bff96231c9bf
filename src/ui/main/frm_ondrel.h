#pragma once

#include <QDate>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "core/memo_text.h"
#include "core/records.h"
#include "data/shown_memo.h"
#include "data/staff.h"
#include "data/system_master.h"
#include "ui/main/category_page.h"

class QCheckBox;
class QDateEdit;
class QFileSystemWatcher;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QTimer;

namespace ondrel {

struct AppContext;
class CategoryPage;
class DateListGrid;
struct DateListRow;
class ChartNoValidator;
class HistoryPanel;
class FrmRecords;
class FrmSearch;
class FrmPhrases;
class PhrasePopup;
struct SearchHit;
class SignInPanel;

enum class DispMode { L, D, W };  // latest, by date-list row, new

// Sets a flag for the length of a scope (SkipEventFlg around the program's
// own moves of a date list).
class FlagScope {
  public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

  private:
    bool& flag_;
};

// Marks a procedure that lets pending events run: meanwhile the poll and the
// buttons wait, so nothing starts in the middle of it.
class BusyScope {
  public:
    explicit BusyScope(int& n) : n_(n) { ++n_; }
    ~BusyScope() { --n_; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    int& n_;
};

// Why a clerk's window has a command off (its tooltip).
QString ClerkReason();

// The main window: header, category pages, button bar, link-file poll.
class FrmOndrel : public QWidget {
    Q_OBJECT
  public:
    explicit FrmOndrel(AppContext& ctx, QWidget* parent = nullptr);

    // The opening sequence; runs before the window is shown.
    void Form_Load();

    void Rtn_TabSet();
    void Rtn_ScrollSet();
    void Rtn_DataDispMain();
    void Rtn_LinkCheck();
    void Rtn_DataDispTab(DispMode mode, int c);
    void Rtn_DateListDisp(int c);
    void Rtn_PastDisp(int c);
    // The date list, the latest memo and the history of a page, from one
    // read of its memos.
    void Rtn_PageDisp(int c);
    // False when the memo could not be written (the database is in use): the
    // text stays on screen and nothing that depends on the save goes on.
    bool Rtn_DataSave(bool ask);
    CommonRecord Rtn_DataGet() const;
    void Rtn_DataDelete();
    void cmdProcess_Click(int index);
    // Enter in the chart-number box.
    void txtPersonalID_KeyPress();

    // The settings and report windows plug in here (設定, 印刷).
    std::function<void(FrmOndrel&)> openSettings;
    std::function<void(FrmOndrel&)> openPrintDialog;
    std::function<void(FrmOndrel&)> printMemo;
    // How a records dialog is run (a test replaces exec()).
    std::function<void(FrmRecords&)> runRecords;
    // 検索 (Ctrl+F): the search window; the memo chosen there is shown here.
    void OpenSearch();
    // The chosen memo's patient and page, the memo on screen written first
    // (as for the link bar); false when it could not be shown.
    bool ShowSearchHit(const SearchHit& hit);
    std::function<void(FrmSearch&)> runSearch;
    // 定型文 into page c's memo box, at its cursor, as if typed: the pick
    // list (F2, the box's menu), the list's nth (Ctrl+1 … Ctrl+9, n from 0).
    // Nothing where the box cannot be written.
    void OpenPhrasePopup(int c);
    bool InsertPhrase(int c, int n);
    void InsertPhraseText(int c, const QString& text);
    // 定型文の編集, at page c's list (admin only once sign-in is on).
    void OpenPhrases(int c);
    bool MayEditPhrases() const;
    std::function<void(PhrasePopup&)> runPhrasePopup;
    std::function<void(FrmPhrases&)> runPhrases;

    // Builds the date lists and histories not built yet; the program does it
    // right after the window's first paint.
    void FinishPages();

    // The date list's context menu: 変更履歴… and 削除したメモ….
    void OpenRevisions(int c);
    void OpenDeletedMemos(int c);

    // Sign-in, while the staff table has an active person: asked before any
    // patient shows (at start), again after the idle minutes or サインアウト.
    // At start: whether sign-in is on; the window then waits for a person.
    bool StartSignIn();
    // The panel's サインイン: false, told on the panel, when it is refused.
    bool SignInAs(const QString& login, const QByteArray& password);
    // Covers the patient's data until someone signs in; the memo on screen
    // stays, still the signed-in person's.
    void LockNow(bool signOut);
    bool Locked() const { return locked_; }
    const std::optional<StaffMember>& SignedIn() const { return staff_; }
    // The idle timer's check.
    void CheckIdle();
    // Milliseconds of a steady clock for the idle minutes (tests set their own).
    std::function<qint64()> idleClock;
    // The panel's 終了 at start.
    std::function<void()> quitProgram;

    int CurrentTab() const;
    // The patient shown: KarteNo (lblInfo(0)) and the full chart number (lblInfo(1)).
    std::optional<BaseChartNo> ShownKarteNo() const { return lblInfo0_; }
    std::optional<FullChartNo> ShownChartNo() const { return lblInfo1_; }
    // What a report of the page shown names: chart number, patient, category.
    ReportInfo ReportHeader() const;
    // The report of the memo shown on the current page, as it stands on screen.
    ReportInfo MemoReport() const;

    // The state the Windows form kept in hidden text boxes, read-only: the
    // memo key and date-list row shown on page c, the category loaded.
    std::optional<qint32> MainKeyShown(int c) const { return pages_[c]->txtMainkey; }
    int RowShown(int c) const { return pages_[c]->txtRow; }
    int LoadedCategory() const { return txtBeforeTab; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // State that the Windows form kept in hidden text boxes; each page keeps
    // its own (CategoryPage).
    int txtBeforeTab = 0;
    bool SkipEventFlg = false;

    // Controls, by their described names.
    std::array<QWidget*, 2> picMain{};
    QWidget* picInfo = nullptr;
    QFrame* shpHeader0 = nullptr;
    QLineEdit* txtPersonalID = nullptr;
    std::array<QLabel*, 7> lblInfo{};   // 0, 1, 2, 4, 6 exist
    std::array<QLabel*, 6> lblInfoH{};  // 0, 1, 4, 5 exist
    QTabWidget* tabMain = nullptr;
    std::array<CategoryPage*, kCategoryCount> pages_{};  // tabMain's pages
    QWidget* picButton = nullptr;
    std::array<QPushButton*, 8> cmdProcess{};  // 0, 3, 4, 5, 6, 7 exist
    QCheckBox* chkPrintFlg = nullptr;
    QWidget* picScroll = nullptr;
    QScrollBar* hsbScroll = nullptr;
    QTimer* timTimer = nullptr;
    SignInPanel* signIn_ = nullptr;
    QLabel* lblStaff = nullptr;
    QPushButton* cmdSignOut = nullptr;
    QPushButton* cmdSearch = nullptr;
    QString lastSearch_;

    void BuildHeader();
    void BuildPages();
    void BuildButtons();
    // Page c's date list and history, built on first use.
    DateListGrid& Grid(int c);
    HistoryPanel& Past(int c);
    void LayoutPages();
    void tabMain_Click(int c);
    void grdDateList_RowChange(int c, int row, int previousRow);
    void ClearHeader();
    void DailyBackup();
    void ShowRecordsMenu(int c, const QPoint& at);
    void OpenRecords(int c, bool deleted);
    void ShowPatientState(bool shown);
    void SetMemoButtons(bool memoShown);
    void SetPageShown(int c, bool shown);
    void FillDateList(int c, std::vector<DateListRow> rows);
    // The page's lists as they now are, with this memo on the page.
    void ShowPageAt(int c, qint32 mainKey);
    bool SettleUncertainSave();
    void TakeSaved(int c, const CommonRecord& memo);
    // Tells what a save or delete found and shows the page as it now is.
    void ShowOutcome(int c, const ShownMemoOutcome& outcome);
    // The steps of Rtn_DataDispTab.
    bool AskToDiscard(int c);
    std::optional<CommonRecord> ReadAtRow(int c);
    std::optional<CommonRecord> CreateMemo(int c);
    void ShowMemo(int c, const std::optional<CommonRecord>& memo);
    // False when the command met a busy database (the user has been told,
    // unless quietBusy_ says it was told already).
    bool Trap(const std::function<void()>& body);
    bool quietBusy_ = false;
    QString linkHeldFor_;  // the link's patient not followed for a memo not yet written
    // Puts a chart number into the box whole, as code may on Windows; the
    // box's limit of 10 characters holds only for typing.
    void SetPersonalID(const QString& text);
    bool SaveBeforePatientChange();
    void WatchLinkFile();
    void KeepLoadedTexts(int c, const std::array<QString, kCategoryCount>& texts);
    bool PageEdited(int c) const;
    bool MayWrite() const { return !staff_ || StaffMayWrite(staff_->role); }
    void ApplyRole();
    void ShowLocked(bool locked, bool atStart);
    void BuildSignIn();
    void WirePhrases(int c);
    void ShowMemoMenu(int c, const QPoint& at);
    bool MemoBoxWritable(int c) const;
    void KeepForPrevious();
    void GiveBackKept();

    // Who is signed in (sign-in on), and what could not be written for a
    // person another one followed.
    bool signInOn_ = false;
    bool locked_ = false;
    std::optional<StaffMember> staff_;
    SignInCheck signInCheck_;
    qint64 lastInput_ = 0;
    int idleMinutes_ = 0;
    QTimer* idleTimer_ = nullptr;
    struct KeptMemo {
        QString login;
        FullChartNo chart;
        int tab = 0;
        CommonRecord memo;
    };
    std::optional<KeptMemo> kept_;

    AppContext& ctx_;
    std::optional<BaseChartNo> lblInfo0_;
    std::optional<FullChartNo> lblInfo1_;
    std::array<QString, kCategoryCount> names_;
    std::array<bool, kCategoryCount> flags_{};
    int busy_ = 0;
    int trapDepth_ = 0;
    // The link-file value last reported as not registered (or not a number).
    QString linkRejected_;
    bool loading_ = false;
    ChartNoValidator* personalIdLimit_ = nullptr;
    QFileSystemWatcher* linkWatcher_ = nullptr;
    // The stored texts behind the seven boxes, and the date of the memo put
    // on a page last: what an untouched page stores.
    std::array<StoredText, kCategoryCount> storedText_;
    QDate loadedDate_;
};

}  // namespace ondrel
