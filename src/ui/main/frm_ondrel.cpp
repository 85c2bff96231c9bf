#include "ui/main/frm_ondrel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>
#include <QValidator>
#include <QWindow>
#include <algorithm>
#include <utility>

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/app_settings.h"
#include "core/blocking_call.h"
#include "core/conversions.h"
#include "core/db_target.h"
#include "core/link_file.h"
#include "core/trap.h"
#include "data/access_log.h"
#include "data/backup.h"
#include "data/patient_lookup.h"
#include "data/system_db.h"
#include "gui/controls.h"
#include "gui/enter_as_tab.h"
#include "gui/twips.h"
#include "gui/window_placement.h"
#include "ui/main/date_list_grid.h"
#include "ui/main/frm_records.h"
#include "ui/main/frm_search.h"
#include "ui/main/history_panel.h"
#include "ui/main/main_layout.h"
#include "ui/main/sign_in_panel.h"

namespace ondrel {

namespace {

constexpr int kTimerMs = 10000;
// A part of an older file's search index: some 10 ms of work, every 50 ms.
constexpr int kSearchFillMs = 50;
constexpr int kSearchFillRows = 500;
constexpr int kChartNoTyped = 10;
const QColor kHeaderBack(255, 255, 192);

}  // namespace

// Limits what is typed into the chart-number box; a number the program put
// there (the link file's, the command line's) stays whole.
class ChartNoValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return input.size() <= kChartNoTyped || input == fromCode ? Acceptable : Invalid;
    }
    QString fromCode;
};

// Runs a procedure under the error trap: a failure ends the program through
// the error report, with no connection of the window's own to close; a busy
// database is told and ends only the procedure.
// Inside another procedure a busy database ends the outer one, which tells
// the user once.
bool FrmOndrel::Trap(const std::function<void()>& body) {
    BusyScope nested(trapDepth_);
    if (trapDepth_ > 1) {
        WithTrap(ctx_, nullptr, body);
        return true;
    }
    CommandConnection shared(ctx_);
    try {
        WithTrap(ctx_, nullptr, body);
        quietBusy_ = false;
        return true;
    } catch (const ToldError& e) {
        if (!std::exchange(quietBusy_, false))
            ctx_.prompter.Warning(ctx_.settings.Title, e.UserMessage());
        return false;
    }
}

void FrmOndrel::SetPersonalID(const QString& text) {
    personalIdLimit_->fromCode = text;
    txtPersonalID->setText(text);
}

FrmOndrel::FrmOndrel(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    using namespace main_twips;
    // A window to assistive technology: marked before anything asks it.
    setProperty("mainWindow", true);
    NameControl(this, QStringLiteral("frmOndrel"));
    setWindowTitle(QStringLiteral("指導指示管理"));
    setFont(WindowsFont(11.25));
    resize(TwipsRect(0, 0, kInnerWidth, kInnerHeight, LogicalDpi(this)).size());

    picMain[0] = new QWidget(this);
    NameControl(picMain[0], QStringLiteral("picMain"), 0);
    PlaceTwips(picMain[0], kViewportLeft, 0, kContentWidth, kViewportHeight);
    picMain[1] = new QWidget(picMain[0]);
    NameControl(picMain[1], QStringLiteral("picMain"), 1);
    PlaceTwips(picMain[1], 0, 225, kContentWidth, 10905);

    BuildHeader();
    BuildPages();
    BuildButtons();

    picScroll = new QWidget(this);
    NameControl(picScroll, QStringLiteral("picScroll"));
    PlaceTwips(picScroll, kScrollLeft, 11115, 15990, kScrollHeight);
    hsbScroll = new QScrollBar(Qt::Horizontal, picScroll);
    NameControl(hsbScroll, QStringLiteral("hsbScroll"));
    hsbScroll->setAccessibleName(QStringLiteral("横スクロール"));
    PlaceTwips(hsbScroll, 0, 90, 15990, 330);
    // Both the change and the drag move the content panel.
    connect(hsbScroll, &QScrollBar::valueChanged, this, [this](int v) {
        const QRect g = picMain[1]->geometry();
        picMain[1]->move(-TwipsToPixels(v * 10, LogicalDpi(this)), g.y());
    });

    timTimer = new QTimer(this);
    timTimer->setObjectName(QStringLiteral("timTimer"));
    timTimer->setInterval(kTimerMs);
    connect(timTimer, &QTimer::timeout, this, [this] {
        // A tick while a command waits on the server is the next one's.
        if (BlockingCallUnderWay()) return;
        Rtn_LinkCheck();
        if (busy_ == 0) FlushAccessLog(ctx_);
    });

    new EnterAsTab(this, {QStringLiteral("txtLData"), QStringLiteral("txtPersonalID")});
}

void FrmOndrel::BuildHeader() {
    picInfo = new QWidget(picMain[1]);
    NameControl(picInfo, QStringLiteral("picInfo"));
    PlaceTwips(picInfo, 0, 0, 9870, 600);
    picInfo->setAutoFillBackground(true);
    QPalette pal = picInfo->palette();
    pal.setColor(QPalette::Window, kHeaderBack);
    picInfo->setPalette(pal);
    picInfo->setFont(WindowsFont(9.75));

    lblInfoH[0] = TwipsLabel(picInfo, QStringLiteral("カルテ番号"), QStringLiteral("lblInfoH"), 0,
                             {180, 180, 960, 195});
    shpHeader0 = new QFrame(picInfo);
    NameControl(shpHeader0, QStringLiteral("shpHeader"), 0);
    PlaceTwips(shpHeader0, 1215, 90, 1545, 375);
    shpHeader0->setStyleSheet(QStringLiteral("background-color: white; border: 1px solid black;"));

    txtPersonalID = new QLineEdit(picInfo);
    NameControl(txtPersonalID, QStringLiteral("txtPersonalID"));
    txtPersonalID->setAccessibleName(QStringLiteral("カルテ番号"));
    PlaceTwips(txtPersonalID, 1305, 180, 1365, 195);
    txtPersonalID->setFrame(false);
    personalIdLimit_ = new ChartNoValidator(txtPersonalID);
    txtPersonalID->setValidator(personalIdLimit_);
    txtPersonalID->setStyleSheet(
        QStringLiteral("background-color: white; color: black; border: none;"));
    txtPersonalID->setAttribute(Qt::WA_InputMethodEnabled, false);
    // Enter looks the patient up; the window's Enter-as-Tab leaves this box alone.
    connect(txtPersonalID, &QLineEdit::returnPressed, this, [this] { txtPersonalID_KeyPress(); });

    lblInfo[0] = TwipsLabel(picInfo, {}, QStringLiteral("lblInfo"), 0, {1305, 0, 1365, 195});
    lblInfo[0]->hide();
    lblInfo[1] = TwipsLabel(picInfo, {}, QStringLiteral("lblInfo"), 1, {2475, 0, 555, 195});
    lblInfo[1]->hide();
    lblInfoH[1] = TwipsLabel(picInfo, QStringLiteral("氏名"), QStringLiteral("lblInfoH"), 1,
                             {3105, 180, 465, 195});
    lblInfo[2] = TwipsLabel(picInfo, {}, QStringLiteral("lblInfo"), 2, {3735, 180, 2265, 195});
    lblInfoH[4] = TwipsLabel(picInfo, QStringLiteral("性別"), QStringLiteral("lblInfoH"), 4,
                             {6435, 180, 465, 195});
    lblInfo[4] = TwipsLabel(picInfo, {}, QStringLiteral("lblInfo"), 4, {7065, 180, 285, 195});
    lblInfoH[5] = TwipsLabel(picInfo, QStringLiteral("年齢"), QStringLiteral("lblInfoH"), 5,
                             {8325, 180, 465, 195});
    lblInfo[6] = TwipsLabel(picInfo, {}, QStringLiteral("lblInfo"), 6, {8955, 180, 645, 195});
}

void FrmOndrel::BuildPages() {
    tabMain = new QTabWidget(picMain[1]);
    NameControl(tabMain, QStringLiteral("tabMain"));
    PlaceTwips(tabMain, 0, 765, main_twips::kTabWidth, 10095);
    tabMain->tabBar()->setExpanding(false);
    tabMain->setUsesScrollButtons(false);
    for (int i = 0; i < kCategoryCount; ++i) {
        auto* page = new CategoryPage(i);
        pages_[i] = page;
        tabMain->addTab(page, QString());
        connect(page, &CategoryPage::RecordsMenuRequested, this,
                [this, i](const QPoint& at) { ShowRecordsMenu(i, at); });
        connect(page, &CategoryPage::RowChanged, this, [this, i](int row, int previousRow) {
            grdDateList_RowChange(i, row, previousRow);
        });
        // The seven boxes together hold the memo on screen.
        connect(page->txtLData->document(), &QTextDocument::contentsChanged, this,
                [this, i] { storedText_[i].Update(pages_[i]->txtLData->document()->toRawText()); });
        page->installEventFilter(this);
        WirePhrases(i);
    }
    connect(tabMain, &QTabWidget::currentChanged, this, [this](int c) { tabMain_Click(c); });
}

DateListGrid& FrmOndrel::Grid(int c) { return pages_[c]->Grid(); }

HistoryPanel& FrmOndrel::Past(int c) { return pages_[c]->Past(); }

void FrmOndrel::FinishPages() {
    for (CategoryPage* page : pages_) page->BuildLists();
    // A file made before search was there: its memos are indexed a part at a
    // time while the window waits for the user, never in one long stop.
    auto* fill = new QTimer(this);
    fill->setInterval(kSearchFillMs);
    connect(fill, &QTimer::timeout, this, [this, fill] {
        if (busy_ > 0 || loading_ || BlockingCallUnderWay()) return;
        if (FillSearchIndex(ctx_, kSearchFillRows)) fill->deleteLater();
    });
    fill->start();
}

void FrmOndrel::BuildButtons() {
    auto button = [this](QWidget* parent, int index, const QString& caption, QRect twips) {
        cmdProcess[index] = CommandButton(parent, index, caption, twips);
        connect(cmdProcess[index], &QPushButton::clicked, this,
                [this, index] { cmdProcess_Click(index); });
    };
    button(picMain[1], 7, QStringLiteral("設定"), {12735, 0, 1500, 465});
    button(picMain[1], 6, QStringLiteral("閉じる"), {14445, 0, 1500, 465});
    cmdSearch = new QPushButton(QStringLiteral("検索"), picMain[1]);
    NameControl(cmdSearch, QStringLiteral("cmdSearch"));
    PlaceTwips(cmdSearch, 11025, 0, 1500, 465);
    cmdSearch->setToolTip(QStringLiteral("すべての患者のメモから探します（Ctrl+F）"));
    connect(cmdSearch, &QPushButton::clicked, this, [this] { OpenSearch(); });
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] { OpenSearch(); });

    picButton = new QWidget(picMain[1]);
    NameControl(picButton, QStringLiteral("picButton"));
    PlaceTwips(picButton, 9405, 1530, 6180, 780);
    button(picButton, 0, QStringLiteral("新規作成"), {135, 135, 1410, 465});
    button(picButton, 4, QStringLiteral("保存"), {1620, 135, 1410, 465});
    button(picButton, 3, QStringLiteral("削除"), {3105, 135, 1410, 465});
    button(picButton, 5, QStringLiteral("印刷"), {4590, 135, 1410, 465});
    cmdProcess[4]->setAutoFillBackground(true);
    // Ctrl+S is 保存, with its question, whenever the button could be clicked.
    auto* save = new QShortcut(QKeySequence::Save, this);
    connect(save, &QShortcut::activated, this, [this] {
        if (cmdProcess[4]->isEnabled() && cmdProcess[4]->isVisible()) cmdProcess_Click(4);
    });
    chkPrintFlg = new QCheckBox(picButton);
    NameControl(chkPrintFlg, QStringLiteral("chkPrintFlg"));
    chkPrintFlg->setAccessibleName(QStringLiteral("日付を指定して印刷"));
    PlaceTwips(chkPrintFlg, 5715, 225, 210, 180);
    chkPrintFlg->raise();
    picButton->raise();
    SetMemoButtons(false);
}

// The pages sit in the tab strip at their designed place, measured from the
// strip's own corner as on Windows, whatever the height of Qt's tab bar.
void FrmOndrel::LayoutPages() {
    const int dpi = LogicalDpi(this);
    // Only the page on show has its geometry; every page sits where it does.
    QWidget* shown = tabMain->currentWidget() ? tabMain->currentWidget() : pages_[0];
    const QPoint page = shown->mapTo(tabMain, QPoint(0, 0));
    for (CategoryPage* p : pages_) {
        p->picGroup->move(TwipsToPixels(315, dpi) - page.x(), TwipsToPixels(765, dpi) - page.y());
    }
}

bool FrmOndrel::eventFilter(QObject* watched, QEvent* event) {
    // The first paint happens while the first expose is handled; the rest of
    // the pages are built right after it.
    if (watched == windowHandle() && event->type() == QEvent::Expose) {
        windowHandle()->removeEventFilter(this);
        QTimer::singleShot(0, this, [this] { FinishPages(); });
    }
    if (watched == tabMain->currentWidget() &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
         event->type() == QEvent::Show)) {
        LayoutPages();
    }
    return QWidget::eventFilter(watched, event);
}

int FrmOndrel::CurrentTab() const { return tabMain->currentIndex(); }

void FrmOndrel::Form_Load() {
    loading_ = true;
    // The window's opening is one command: its reads share one connection
    // (a new SQLite connection reads the whole schema again).
    CommandConnection opening(ctx_);
    const auto& s = ctx_.settings;
    if (s.WindowTop == 1) SetTopmost(*this);
    RestoreWindowPlacement(ctx_, *this);
    setWindowTitle(s.Title);
    chkPrintFlg->setChecked(s.PrintFlg == 1);  // any other value leaves it clear
    picMain[1]->setAutoFillBackground(true);
    picMain[1]->setPalette(picMain[0]->palette());
    Rtn_TabSet();
    if (!s.StartKarteNo.isEmpty()) {
        SetPersonalID(s.StartKarteNo);
        Rtn_DataDispMain();
    }
    if (s.KarteNoInput == 0) {
        lblInfo[0]->move(lblInfo[0]->x(), txtPersonalID->y());
        lblInfo[0]->show();
        txtPersonalID->hide();
        shpHeader0->hide();
    }
    const int defaultTab = s.DefaultTab >= 0 && s.DefaultTab < kCategoryCount ? s.DefaultTab : 0;
    // Without a patient there is nothing to load (no query on an empty number).
    if (lblInfo0_) {
        for (int c : {4, 3, 2, 1, 0}) Rtn_DataDispTab(DispMode::L, c);
    }
    txtBeforeTab = defaultTab;
    tabMain->setCurrentIndex(defaultTab);
    Rtn_PastDisp(CurrentTab());
    timTimer->start();
    WatchLinkFile();
    loading_ = false;
}

void FrmOndrel::Rtn_TabSet() {
    Trap([&] {
        names_.fill(QString());
        if (const auto m = Rtn_MasterRead(ctx_)) {
            names_ = m->Name;
            for (int k = 1; k < kCategoryCount; ++k) flags_[k] = m->Check[k];
        }
        for (int i = 0; i < kCategoryCount; ++i) {
            tabMain->setTabText(i, names_[i]);
            pages_[i]->lblTitle->setText(names_[i]);
        }
        // Unavailable categories stay visible but cannot be chosen.
        for (int i = 1; i < kCategoryCount; ++i) tabMain->setTabEnabled(i, flags_[i]);
    });
}

void FrmOndrel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isMinimized()) return;
    if (signIn_) signIn_->setGeometry(rect());
    const int dpi = LogicalDpi(this);
    const ResizeResult r = MainResize(PixelsToTwips(width(), dpi), PixelsToTwips(height(), dpi));
    picScroll->setVisible(r.scrollShown);
    QRect g = picScroll->geometry();
    g.moveTop(TwipsToPixels(r.scrollTop, dpi));
    if (r.scrollWidth > 0) {
        g.setWidth(TwipsToPixels(r.scrollWidth, dpi));
        hsbScroll->resize(TwipsToPixels(r.scrollWidth - 90, dpi), hsbScroll->height());
    }
    picScroll->setGeometry(g);
    if (r.viewportWidth > 0)
        picMain[0]->resize(TwipsToPixels(r.viewportWidth, dpi), picMain[0]->height());
    Rtn_ScrollSet();
}

void FrmOndrel::Rtn_ScrollSet() {
    const int dpi = LogicalDpi(this);
    const ScrollRange r = Rtn_ScrollRange(PixelsToTwips(picMain[0]->width(), dpi),
                                          PixelsToTwips(picMain[1]->width(), dpi));
    hsbScroll->setSingleStep(r.smallStep);
    hsbScroll->setPageStep(r.largeStep);
    hsbScroll->setRange(0, r.maximum);  // a lower maximum pulls the value and the panel along
}

void FrmOndrel::tabMain_Click(int c) {
    if (c < 0) return;
    if (!Rtn_DataSave(false)) {
        // The memo left could not be written: stay on its page with its text.
        const QSignalBlocker quiet(tabMain);
        tabMain->setCurrentIndex(txtBeforeTab);
        return;
    }
    SetPageShown(c, false);
    Rtn_PageDisp(c);
    txtBeforeTab = c;
}

void FrmOndrel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    const bool pending =
        std::any_of(pages_.begin(), pages_.end(), [](auto* p) { return !p->ListsBuilt(); });
    if (pending && windowHandle()) windowHandle()->installEventFilter(this);
    // The frame is known only now (or a moment later under some window managers).
    FitOuterSize(*this);
    QTimer::singleShot(0, this, [this] { FitOuterSize(*this); });
}

void FrmOndrel::closeEvent(QCloseEvent* event) {
    if (busy_ > 0) {  // a command is between its question and its work
        event->ignore();
        return;
    }
    // Locked with someone's work on screen: only a person signed in may
    // decide about it. At start nobody has worked yet.
    if (locked_ && staff_) {
        signIn_->Tell(QStringLiteral("閉じるには、先にサインインして下さい。"));
        event->ignore();
        return;
    }
    const auto& s = ctx_.settings;
    // 終了 before anyone signed in: nothing was edited to lose.
    if (s.MessageFlg[3] == 0 && !(locked_ && !staff_) &&
        !ctx_.prompter.Question(s.Title,
                                QStringLiteral("編集したデータは失われます。よろしいですか。"))) {
        event->ignore();
        return;
    }
    SaveDefaultTab(ctx_, CurrentTab());
    SavePrintFlg(ctx_, chkPrintFlg->isChecked());
    SaveWindowPlacement(ctx_, *this);
    timTimer->stop();
    FlushAccessLog(ctx_);
    DailyBackup();
    // A closed window follows the link bar no more.
    if (linkWatcher_) linkWatcher_->disconnect(this);
    event->accept();
}

// A file's copy, at most once a day, when the window closes after a change.
// A server is backed up by whoever looks after it (ondrel-db backup).
void FrmOndrel::DailyBackup() {
    const QString db = ctx_.settings.SystemDB;
    if (!Session(ctx_).memoWritten || Session(ctx_).Target(db).IsServer()) return;
    const BackupPlan plan = ReadBackupPlan(ctx_, db);
    if (HasBackupOn(plan, QDate::currentDate())) return;
    WaitCursorGuard wait(ctx_.waitCursor);
    if (const QString error = MakeBackup(db, plan); !error.isEmpty()) {
        ctx_.prompter.Warning(ctx_.settings.Title,
                              error + QStringLiteral("\r\nメモはデータベースに保存されています。"));
    }
}

void FrmOndrel::ShowRecordsMenu(int c, const QPoint& at) {
    if (busy_ > 0 || !lblInfo0_) return;
    QMenu menu(this);
    QAction* versions = menu.addAction(QStringLiteral("変更履歴..."));
    versions->setEnabled(pages_[c]->txtMainkey.has_value() && !pages_[c]->picGroup->isHidden());
    QAction* deleted = menu.addAction(QStringLiteral("削除したメモ..."));
    QAction* chosen = menu.exec(at);
    if (chosen == versions) OpenRevisions(c);
    if (chosen == deleted) OpenDeletedMemos(c);
}

void FrmOndrel::OpenRevisions(int c) { OpenRecords(c, false); }
void FrmOndrel::OpenDeletedMemos(int c) { OpenRecords(c, true); }

void FrmOndrel::OpenRecords(int c, bool deleted) {
    if (busy_ > 0 || !lblInfo0_) return;
    // What the page holds is written first, as for any other command.
    if (!Rtn_DataSave(false)) return;
    if (!deleted && !pages_[c]->txtMainkey) return;
    FrmRecords dialog(ctx_, deleted ? FrmRecords::Kind::Deleted : FrmRecords::Kind::Versions,
                      pages_[c]->txtMainkey.value_or(0), pages_[c]->rowVersion, c, *lblInfo0_,
                      this);
    dialog.Form_Load();
    if (!MayWrite()) dialog.RefuseRestore(ClerkReason());
    if (runRecords) {
        runRecords(dialog);
    } else {
        dialog.exec();
    }
    if (const auto key = dialog.Restored()) ShowPageAt(c, *key);
}

void FrmOndrel::OpenSearch() {
    if (busy_ > 0 || locked_ || loading_ || !isEnabled()) return;
    std::array<bool, kCategoryCount> inUse = flags_;
    inUse[0] = true;  // the first category is always there
    FrmSearch dialog(ctx_, names_, inUse, this);
    dialog.Form_Load(lastSearch_);
    if (runSearch) {
        runSearch(dialog);
    } else {
        dialog.exec();
    }
    lastSearch_ = dialog.Text();
    if (const auto& hit = dialog.Chosen()) ShowSearchHit(*hit);
}

bool FrmOndrel::ShowSearchHit(const SearchHit& hit) {
    if (busy_ > 0 || hit.formCode < 0 || hit.formCode >= kCategoryCount) return false;
    BusyScope busy(busy_);
    const bool samePatient = lblInfo1_ && *lblInfo1_ == hit.chart;
    if (!samePatient) {
        if (!SaveBeforePatientChange()) return false;
        SetPersonalID(QString::number(hit.chart.value));
        Rtn_DataDispMain();
        if (!lblInfo1_ || *lblInfo1_ != hit.chart) return false;
    } else if (!Rtn_DataSave(false)) {
        return false;
    }
    const int c = hit.formCode;
    if (CurrentTab() != c) {
        const QSignalBlocker quiet(tabMain);
        tabMain->setCurrentIndex(c);
        SetPageShown(c, false);
    }
    txtBeforeTab = c;
    ShowPageAt(c, hit.mainKey);
    if (MainKeyShown(c) == hit.mainKey) return true;
    ctx_.prompter.Warning(ctx_.settings.Title,
                          QStringLiteral("選んだメモはありません。他の端末で削除された可能性が"
                                         "あります。"));
    return false;
}

void FrmOndrel::ClearHeader() {
    lblInfo0_.reset();
    lblInfo1_.reset();
    for (int i : {0, 1, 2, 4, 6}) lblInfo[i]->clear();
}

void FrmOndrel::ShowPatientState(bool shown) {
    tabMain->setVisible(shown);
    picButton->setVisible(shown);
}

void FrmOndrel::Rtn_DataDispMain() {
    Trap([&] {
        const auto& s = ctx_.settings;
        QString t = txtPersonalID->text();
        t.remove(u'-');
        SetPersonalID(t);
        FullChartNo n;
        bool valid = ReadNumber(t).has_value();
        if (valid) {
            try {
                n = FullChartNo(ToInt32(t));
            } catch (const AppError&) {
                valid = false;  // beyond the 32-bit range: as wrong as letters
            }
        }
        if (!valid) {
            ctx_.prompter.Warning(s.Title, QStringLiteral("カルテ番号が不正です。"));
            txtPersonalID->setFocus();
            ClearHeader();
            ShowPatientState(false);
            return;
        }
        const auto patient = LookUpPatient(ctx_, n);
        if (!patient) {
            ClearHeader();
            ctx_.prompter.Warning(s.Title, QStringLiteral("カルテ番号") + t +
                                               QStringLiteral("は登録されていません。"));
            txtPersonalID->setFocus();
            ShowPatientState(false);
            return;
        }
        const PatientInfo& p = *patient;
        QueueAccess(ctx_, p.ChartNo, AccessAction::Shown);
        SetPersonalID(FormatKarteNo(p.ChartNo));
        lblInfo0_ = p.BaseNo;
        lblInfo1_ = p.ChartNo;
        lblInfo[0]->setText(QString::number(p.BaseNo.value));
        lblInfo[1]->setText(QString::number(p.ChartNo.value));
        lblInfo[2]->setText(p.Name);
        lblInfo[4]->setText(p.Sex);
        lblInfo[6]->setText(p.BirthDate.isEmpty()
                                ? QString()
                                : AgeText(p.BirthDate, ctx_.clock.Today()) + QStringLiteral("歳"));
        // The IPA fonts run wider than the Windows one: never cut a header text.
        for (int i : {2, 4, 6})
            lblInfo[i]->resize(std::max(lblInfo[i]->width(), lblInfo[i]->sizeHint().width()),
                               lblInfo[i]->height());
        const int c = CurrentTab();
        try {
            Rtn_PageDisp(c);
        } catch (const DatabaseBusy&) {
            // A page that could not be read must not show the previous
            // patient's memos under this header.
            ClearHeader();
            ShowPatientState(false);
            throw;
        }
        txtBeforeTab = c;
        ShowPatientState(true);
    });
}

void FrmOndrel::Rtn_LinkCheck() {
    // Never in the middle of something: a box or dialog of ours is open, or a
    // command is between its question and its work.
    if (busy_ > 0 || loading_ || ctx_.prompter.IsShowing() || QApplication::activeModalWidget())
        return;
    Trap([&] {
        const QString path = LinkFilePath(ctx_);
        const auto first = ReadLinkFile(path);
        if (!first || !first->Selected()) return;
        const QString k = first->karteNoBranch;
        // 1234-5 and 12345 are the same patient.
        const auto number = LinkChartNo(k);
        if (number && lblInfo1_ && *number == lblInfo1_->value) {
            linkRejected_.clear();
            return;
        }
        if (k == linkRejected_) return;  // told once already
        // A file still being written is read again at the next check.
        if (!LinkFileSettled(path, *first, ctx_.clock)) return;
        // Not a chart number: told once, and the patient on screen stays
        // (-12345 or 12345.6 must not open 1234-5).
        if (!number) {
            linkRejected_ = k;
            ctx_.prompter.Warning(ctx_.settings.Title, QStringLiteral("カルテ番号が不正です。"));
            return;
        }
        BusyScope busy(busy_);
        // A memo that cannot be written keeps its patient and its text; the
        // next check tries again, and the user is told once per patient the
        // link bar waits for.
        quietBusy_ = k == linkHeldFor_;
        linkHeldFor_ = k;
        if (!SaveBeforePatientChange()) return;
        quietBusy_ = false;
        linkHeldFor_.clear();
        SetPersonalID(k);
        Rtn_DataDispMain();
        linkRejected_ = lblInfo1_ ? QString() : k;
    });
}

// The link bar's change is followed at once, not up to 10 s later; the timer
// stays as the fallback (a folder made later, a watch the system dropped).
void FrmOndrel::WatchLinkFile() {
    const QFileInfo file(LinkFilePath(ctx_));
    linkWatcher_ = new QFileSystemWatcher(this);
    auto rewatch = [this, file] {
        if (file.exists() && !linkWatcher_->files().contains(file.absoluteFilePath()))
            linkWatcher_->addPath(file.absoluteFilePath());
    };
    if (file.absoluteDir().exists()) linkWatcher_->addPath(file.absolutePath());
    rewatch();
    auto check = [this, rewatch] {
        rewatch();  // a file replaced by rename is a new file to watch
        Rtn_LinkCheck();
    };
    connect(linkWatcher_, &QFileSystemWatcher::directoryChanged, this, check);
    connect(linkWatcher_, &QFileSystemWatcher::fileChanged, this, check);
}

bool FrmOndrel::SaveBeforePatientChange() {
    const int t = txtBeforeTab;
    if (t < 0 || t >= kCategoryCount || !pages_[t]->txtMainkey) return true;
    return Rtn_DataSave(false);
}

void FrmOndrel::txtPersonalID_KeyPress() {
    if (busy_ > 0) return;  // a command waits between its question and its work
    // As for a patient change from the link bar: the memo on screen is saved
    // first, and stays when it cannot be.
    if (!SaveBeforePatientChange()) return;
    Rtn_DataDispMain();
}

}  // namespace ondrel
