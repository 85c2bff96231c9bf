// The main window's sign-in: who works at it, the idle lock and the role.
#include <QApplication>
#include <QDateEdit>
#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/blocking_call.h"
#include "data/access_log.h"
#include "data/db_connection.h"
#include "data/japanese_date.h"
#include "data/system_db.h"
#include "gui/controls.h"
#include "gui/twips.h"
#include "ui/main/frm_ondrel.h"
#include "ui/main/sign_in_panel.h"

namespace ondrel {

namespace {

// How often the idle minutes are looked at.
constexpr int kIdleCheckMs = 5000;

bool IsInput(QEvent::Type type) {
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
            return true;
        default:
            return false;
    }
}

// Counts the user's input for the idle lock, whichever window has it.
class InputWatch final : public QObject {
  public:
    InputWatch(QObject* parent, std::function<void()> seen)
        : QObject(parent), seen_(std::move(seen)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (IsInput(event->type())) seen_();
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<void()> seen_;
};

}  // namespace

// A staff table this program cannot read (changed by hand): nobody signs
// in, and nobody passes without.
const char16_t kStaffUnreadable[] =
    u"職員の表（tblMasStaff）を読めないため、サインインできません。管理者に連絡して下さい。";

QString ClerkReason() {
    return QStringLiteral("事務の職員はメモを書き換えられません（見ることと印刷はできます）。");
}

void FrmOndrel::BuildSignIn() {
    if (signIn_) return;
    if (!idleClock) idleClock = SteadyMilliseconds;
    signIn_ = new SignInPanel(this);
    signIn_->setGeometry(rect());
    signIn_->hide();
    connect(signIn_, &SignInPanel::signInClicked, this,
            [this] { SignInAs(signIn_->Login(), signIn_->Password()); });
    connect(signIn_, &SignInPanel::quitClicked, this, [this] {
        if (quitProgram) quitProgram();
    });

    // The status line right of the tabs, under the buttons: who is signed
    // in; サインアウト beside 設定.
    lblStaff = new QLabel(picMain[1]);
    NameControl(lblStaff, QStringLiteral("lblStaff"));
    PlaceTwips(lblStaff, 10200, 555, 5745, 330);
    lblStaff->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cmdSignOut = new QPushButton(QStringLiteral("サインアウト"), picMain[1]);
    NameControl(cmdSignOut, QStringLiteral("cmdSignOut"));
    PlaceTwips(cmdSignOut, 9315, 0, 1500, 465);
    connect(cmdSignOut, &QPushButton::clicked, this, [this] { LockNow(true); });
    lblStaff->show();
    cmdSignOut->show();

    qApp->installEventFilter(new InputWatch(this, [this] { lastInput_ = idleClock(); }));
    idleTimer_ = new QTimer(this);
    idleTimer_->setInterval(kIdleCheckMs);
    connect(idleTimer_, &QTimer::timeout, this, [this] { CheckIdle(); });
    idleTimer_->start();
}

bool FrmOndrel::StartSignIn() {
    bool required = false;
    bool unreadable = false;
    Trap([&] {
        WithSystemDb(ctx_, [&](DbConnection& cn) {
            try {
                required = SignInRequired(cn);
            } catch (const ToldError&) {
                throw;  // a busy or lost database: told as for any command
            } catch (const AppError&) {
                unreadable = true;
            }
        });
    });
    signInOn_ = required || unreadable;
    if (!signInOn_) return false;
    BuildSignIn();
    ShowLocked(true, true);
    if (unreadable) signIn_->Tell(QString::fromUtf16(kStaffUnreadable));
    return true;
}

void FrmOndrel::ShowLocked(bool locked, bool atStart) {
    locked_ = locked;
    // Covered, and out of the keyboard's reach; still there, so the link
    // path's saves go on as for any window.
    picMain[0]->setEnabled(!locked);
    picScroll->setEnabled(!locked);
    if (locked) {
        signIn_->setGeometry(rect());
        signIn_->Open(atStart);
    } else {
        signIn_->hide();
        lastInput_ = idleClock();
    }
}

void FrmOndrel::LockNow(bool signOut) {
    if (!signInOn_ || locked_) return;
    QueueSignInEvent(ctx_, signOut ? SignInEvent::SignedOut : SignInEvent::Locked);
    FlushAccessLog(ctx_);
    ShowLocked(true, false);
}

void FrmOndrel::CheckIdle() {
    if (!signInOn_ || locked_ || !staff_) return;
    const int minutes = idleMinutes_;
    if (minutes <= 0 || idleClock() - lastInput_ < qint64(minutes) * 60000) return;
    // Not in the middle of a command or with a question open: the lock
    // comes at the next look once it is answered.
    // Nor while a call to the server is under way (this timer runs while the
    // window waits for it): the lock's record would be a second call.
    if (busy_ > 0 || ctx_.prompter.IsShowing() || QApplication::activeModalWidget() ||
        BlockingCallUnderWay())
        return;
    LockNow(false);
}

bool FrmOndrel::SignInAs(const QString& login, const QByteArray& password) {
    if (!signIn_) return false;
    std::optional<SignInCheck::Result> result;
    bool unreadable = false;
    Trap([&] {
        WithSystemDb(ctx_, [&](DbConnection& cn) {
            try {
                result = signInCheck_.Try(cn, login, password);
            } catch (const ToldError&) {
                throw;
            } catch (const AppError&) {
                unreadable = true;
            }
        });
    });
    if (unreadable) {
        signIn_->Tell(QString::fromUtf16(kStaffUnreadable));
        return false;
    }
    if (!result) {
        signIn_->Tell(QStringLiteral("システムデータベースに接続できないため、確かめられません。"));
        return false;
    }
    if (result->outcome != SignInCheck::Outcome::SignedIn) {
        QueueSignInEvent(ctx_, SignInEvent::Failed, login);
        FlushAccessLog(ctx_);
        signIn_->Tell(result->message);
        return false;
    }
    const StaffMember next = result->member;
    // Read at each sign-in, not at every look: a change of 設定 counts from the next person.
    idleMinutes_ = IdleLockMinutes(SettingsFilePath(ctx_));
    if (staff_ && staff_->login != next.login) {
        // The memo on screen is the previous person's: written under their
        // name as the link path writes it, or kept for them alone.
        FlushAccessLog(ctx_);
        if (!SaveBeforePatientChange()) KeepForPrevious();
    }
    staff_ = next;
    SetSignedInPerson(next.Shown());
    QueueSignInEvent(ctx_, SignInEvent::SignedIn);
    FlushAccessLog(ctx_);
    lblStaff->setText(
        QStringLiteral("サインイン中：%1（%2）").arg(next.Shown(), StaffRoleShown(next.role)));
    ApplyRole();
    ShowLocked(false, false);
    GiveBackKept();
    return true;
}

void FrmOndrel::KeepForPrevious() {
    const int t = txtBeforeTab;
    if (t < 0 || t >= kCategoryCount || !lblInfo1_) return;
    kept_ = KeptMemo{staff_->login, *lblInfo1_, t, Rtn_DataGet()};
    // The next person sees the memo as it is stored.
    CommonRecord stored = kept_->memo;
    for (int i = 0; i < kCategoryCount; ++i) stored.LText[i] = storedText_[i].Loaded();
    stored.CreDate = ShortDate(loadedDate_);
    ShowMemo(t, stored);
}

void FrmOndrel::GiveBackKept() {
    if (!kept_ || !staff_ || kept_->login != staff_->login) return;
    if (!lblInfo1_ || *lblInfo1_ != kept_->chart) return;  // another patient now: kept on
    const int t = kept_->tab;
    if (pages_[t]->txtMainkey != kept_->memo.MainKey) return;
    tabMain->setCurrentIndex(t);
    pages_[t]->dtpCreData->setDate(ParseShortDate(kept_->memo.CreDate));
    for (int i = 0; i < kCategoryCount; ++i)
        pages_[i]->txtLData->setPlainText(kept_->memo.LText[i]);
    kept_.reset();
}

void FrmOndrel::ApplyRole() {
    const bool write = MayWrite();
    const QString tip = write ? QString() : ClerkReason();
    cmdProcess[0]->setEnabled(write);
    cmdProcess[0]->setToolTip(tip);
    for (int i : {3, 4}) cmdProcess[i]->setToolTip(tip);
    // Its own state: the covered window is off as a whole while locked.
    SetMemoButtons(cmdProcess[5]->isEnabledTo(picMain[0]));
    for (CategoryPage* page : pages_) {
        page->txtLData->setReadOnly(!write);
        page->dtpCreData->setEnabled(write);
    }
    const bool settings = !staff_ || staff_->role == StaffRole::Admin;
    cmdProcess[7]->setEnabled(settings);
    cmdProcess[7]->setToolTip(settings ? QString()
                                       : QStringLiteral("設定は管理者の職員だけが開けます。"));
}

}  // namespace ondrel
