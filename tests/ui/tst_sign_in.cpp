#include <sqlite3.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <thread>

#include "admin/db_tool.h"
#include "data/access_log.h"
#include "data/db_connection.h"
#include "data/revisions.h"
#include "data/staff.h"
#include "ui/main/frm_records.h"
#include "ui/main/sign_in_panel.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

namespace {

// The clinic's staff for these tests; every password is "pw-" and the login.
void AddStaff(const TestDbProgram& p, const char* login, const char* name, const char* role) {
    QCOMPARE(tool::StaffAdd(p.OwnerDbPath(), QString::fromLatin1(login), QString::fromUtf8(name),
                            QString::fromLatin1(role), QByteArray("pw-") + login),
             QString());
}

QByteArray PasswordOf(const char* login) { return QByteArray("pw-") + login; }

// The last revision's person, and the sign-in records (chart 0) in order.
QString LastChangedBy(const TestDbProgram& p) {
    return p.Scalar("Select ChangedBy From tblDatRevision Order By RevisionKey Desc").toString();
}

QStringList SignInRecords(const TestDbProgram& p) {
    QStringList out;
    DbConnection cn;
    if (!OpenDbConnectionAt(p.OwnerDbPath(), cn)) return out;
    for (const AccessRecord& r : ReadAccessLog(cn, {}, {}, 0))
        out << r.action + u'|' + r.person.section(u' ', 0, 0);
    return out;
}

// Another program holding a file's write lock until the end of the scope.
class WriteLockHolder {
  public:
    explicit WriteLockHolder(const QString& path) {
        thread_ = std::thread([this, file = path.toUtf8()] {
            sqlite3* db = nullptr;
            sqlite3_open(file.constData(), &db);
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            locked_ = true;
            while (!release_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        });
        while (!locked_) std::this_thread::yield();
    }
    ~WriteLockHolder() {
        release_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> locked_ = false;
    std::atomic<bool> release_ = false;
    std::thread thread_;
};

}  // namespace

class TstSignIn : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void cleanup() { SetSignedInPerson({}); }
    void withoutStaffNothingChanges();
    void answers_data();
    void answers();
    void fiveWrongPasswordsWaitAMinute();
    void idleLockAndTheNextPerson();
    void linkFollowedWhileLocked();
    void memoKeptForThePreviousPerson();
    void clerkCannotWrite();
    void lockedWindowDoesNotClose();
    void staffTableChangedByHand();
};

// A clinic without staff (or with nobody active) works as before.
void TstSignIn::withoutStaffNothingChanges() {
    WindowFixture f;
    f.Open();
    QVERIFY(!f.window->StartSignIn());
    QVERIFY(f.window->findChildren<SignInPanel*>().isEmpty());
    AddStaff(f, "nurse01", "山田花子", "nurse");
    QVERIFY(tool::StaffDisable(f.OwnerDbPath(), "nurse01").isEmpty());
    QVERIFY(!f.window->StartSignIn());
    QVERIFY(Ctl<QPushButton>(*f.window, "cmdProcess", 7)->isEnabled());
    f.window->Rtn_DataSave(false);
    QVERIFY(!LastChangedBy(f).contains(u' '));  // the account alone
}

void TstSignIn::answers_data() {
    QTest::addColumn<QString>("login");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("told");
    QTest::newRow("right") << "nurse01" << PasswordOf("nurse01") << true << QString();
    QTest::newRow("wrong password")
        << "nurse01" << QByteArray("pw-nurse02") << false << "職員IDまたはパスワードが違います";
    QTest::newRow("unknown login")
        << "ghost" << PasswordOf("ghost") << false << "職員IDまたはパスワードが違います";
    QTest::newRow("empty") << "" << QByteArray() << false << "職員IDまたはパスワードが違います";
    QTest::newRow("absurd login") << QString(1000, u'あ') << QByteArray(10000, 'x') << false
                                  << "職員IDまたはパスワードが違います";
    QTest::newRow("disabled") << "gone" << PasswordOf("gone") << false << "無効になっています";
    QTest::newRow("row by plain SQL")
        << "chief" << PasswordOf("chief") << false << "登録が正しくない";
}

void TstSignIn::answers() {
    QFETCH(QString, login);
    QFETCH(QByteArray, password);
    QFETCH(bool, signedIn);
    QFETCH(QString, told);
    WindowFixture f;
    AddStaff(f, "nurse01", "山田花子", "nurse");
    AddStaff(f, "gone", "退職者", "nurse");
    QVERIFY(tool::StaffDisable(f.OwnerDbPath(), "gone").isEmpty());
    AddStaff(f, "chief", "院長", "doctor");
    f.Exec("Update tblMasStaff Set Role = 'chief' Where Login = 'chief'");
    f.Open();
    auto& w = *f.window;
    QVERIFY(w.StartSignIn());
    QVERIFY(w.Locked());
    auto* panel = w.findChild<SignInPanel*>();
    QVERIFY(panel && panel->isVisible() && panel->geometry() == w.rect());
    QCOMPARE(w.SignInAs(login, password), signedIn);
    QCOMPARE(w.Locked(), !signedIn);
    QCOMPARE(panel->isVisible(), !signedIn);
    if (signedIn) {
        QCOMPARE(Ctl<QLabel>(w, "lblStaff")->text(),
                 QStringLiteral("サインイン中：nurse01 山田花子（看護師）"));
        QCOMPARE(SignInRecords(f), QStringList{QStringLiteral("サインイン|nurse01")});
    } else {
        const QString message = Ctl<QLabel>(*panel, "lblSignInMessage")->text();
        QVERIFY2(message.contains(told), qPrintable(message));
        QVERIFY(Ctl<QLineEdit>(*panel, "txtPassword")->text().isEmpty());
        const QStringList records = SignInRecords(f);
        QCOMPARE(records.size(), 1);
        QVERIFY2(records[0].startsWith(QStringLiteral("サインイン失敗（") + login.left(32)),
                 qPrintable(records[0]));
    }
}

// Counted per login: the fifth wrong password makes that login wait a
// minute, even with the right one; other logins go on.
void TstSignIn::fiveWrongPasswordsWaitAMinute() {
    TestDbProgram p;
    AddStaff(p, "nurse01", "山田花子", "nurse");
    AddStaff(p, "doc1", "佐藤一郎", "doctor");
    qint64 now = 0;
    SignInCheck check([&] { return now; });
    DbConnection cn;
    QVERIFY(OpenDbConnectionAt(p.DbPath(), cn));
    using O = SignInCheck::Outcome;
    for (int i = 0; i < SignInCheck::kTries; ++i)
        QCOMPARE(check.Try(cn, "nurse01", "wrong").outcome, O::Wrong);
    const auto waiting = check.Try(cn, "nurse01", PasswordOf("nurse01"));
    QCOMPARE(waiting.outcome, O::Waiting);
    QVERIFY2(waiting.message.contains(QStringLiteral("あと 60 秒")), qPrintable(waiting.message));
    QCOMPARE(check.Try(cn, "doc1", PasswordOf("doc1")).outcome, O::SignedIn);
    now = SignInCheck::kWaitMs - 1;
    QCOMPARE(check.Try(cn, "nurse01", PasswordOf("nurse01")).outcome, O::Waiting);
    now = SignInCheck::kWaitMs;
    QCOMPARE(check.Try(cn, "nurse01", PasswordOf("nurse01")).outcome, O::SignedIn);
    // Four wrong and a right one: the count starts again.
    for (int i = 0; i < SignInCheck::kTries - 1; ++i) check.Try(cn, "doc1", "wrong");
    QCOMPARE(check.Try(cn, "doc1", PasswordOf("doc1")).outcome, O::SignedIn);
    QCOMPARE(check.Try(cn, "doc1", "wrong").outcome, O::Wrong);
}

// The window locks after the idle minutes; the memo on screen is written
// under the person who typed it once another signs in, and each person's
// saves name them.
void TstSignIn::idleLockAndTheNextPerson() {
    WindowFixture f;
    AddStaff(f, "nurse01", "山田花子", "nurse");
    AddStaff(f, "doc1", "佐藤一郎", "doctor");
    f.AddMemo(0, 12345, "2024-04-01", "前");
    f.WriteIniText({"[System]", "Title=指導指示管理", "SystemDB=" + f.DbPath(), "[Security]",
                    "IdleLockMinutes=3"});
    f.Open();
    auto& w = *f.window;
    qint64 now = 0;
    w.idleClock = [&] { return now; };
    QVERIFY(w.StartSignIn());
    QVERIFY(w.SignInAs("nurse01", PasswordOf("nurse01")));
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(QStringLiteral("山田さんの入力"));
    now = 3 * 60000 - 1;
    w.CheckIdle();
    QVERIFY(!w.Locked());
    now = 3 * 60000;
    w.CheckIdle();
    QVERIFY(w.Locked());
    QVERIFY(!Ctl<QWidget>(w, "picMain", 0)->isEnabled());
    QVERIFY(w.findChild<SignInPanel*>()->isVisible());

    QVERIFY(!w.SignInAs("doc1", "wrong"));
    QVERIFY(w.SignInAs("doc1", PasswordOf("doc1")));
    QVERIFY2(LastChangedBy(f).startsWith(QStringLiteral("nurse01 山田花子 (")),
             qPrintable(LastChangedBy(f)));
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(),
             QStringLiteral("山田さんの入力"));
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(QStringLiteral("佐藤の追記"));
    f.prompter.Answer({true});
    Ctl<QPushButton>(w, "cmdProcess", 4)->click();
    QVERIFY2(LastChangedBy(f).startsWith(QStringLiteral("doc1 佐藤一郎 (")),
             qPrintable(LastChangedBy(f)));
    Ctl<QPushButton>(w, "cmdSignOut")->click();
    QVERIFY(w.Locked());
    QCOMPARE(SignInRecords(f),
             (QStringList{"サインイン|nurse01", "ロック|nurse01", "サインイン失敗（doc1）|nurse01",
                          "サインイン|doc1", "サインアウト|doc1"}));
    // The 変更履歴 names them both.
    const auto revisions = ReadRevisions(*f.ctx, w.MainKeyShown(0).value());
    QStringList people;
    for (const Revision& r : revisions) people << r.changedBy.section(u' ', 0, 1);
    QVERIFY2(people.contains(QStringLiteral("nurse01 山田花子")) &&
                 people.contains(QStringLiteral("doc1 佐藤一郎")),
             qPrintable(people.join(u'|')));
}

// Locked, the window still follows the link bar; it shows nothing of it.
void TstSignIn::linkFollowedWhileLocked() {
    WindowFixture f;
    AddStaff(f, "nurse01", "山田花子", "nurse");
    f.Open();
    auto& w = *f.window;
    QVERIFY(w.StartSignIn());
    f.WriteLink("1", "12346");
    w.Rtn_LinkCheck();
    QCOMPARE(w.ShownChartNo()->value, 12346);
    QVERIFY(w.Locked());
    QVERIFY(w.findChild<SignInPanel*>()->isVisible());
}

// A memo that cannot be written when the next person signs in (the database
// is busy) is kept for the person who typed it: the next one sees the
// stored memo, the first gets the text back.
void TstSignIn::memoKeptForThePreviousPerson() {
    if (OnServer()) QSKIP("the file's write lock stands in for a busy database");
    WindowFixture f;
    AddStaff(f, "nurse01", "山田花子", "nurse");
    AddStaff(f, "doc1", "佐藤一郎", "doctor");
    f.AddMemo(0, 12345, "2024-04-01", "前");
    f.Open();
    auto& w = *f.window;
    QVERIFY(w.StartSignIn());
    QVERIFY(w.SignInAs("nurse01", PasswordOf("nurse01")));
    auto* box = Ctl<QPlainTextEdit>(w, "txtLData", 0);
    box->setPlainText(QStringLiteral("山田さんの入力"));
    w.LockNow(false);
    {
        ShortBusyTimeout shortWait;
        WriteLockHolder busy(f.OwnerDbPath());
        QVERIFY(w.SignInAs("doc1", PasswordOf("doc1")));
    }
    QVERIFY(!f.prompter.Texts().isEmpty());  // told the database is busy
    QCOMPARE(box->toPlainText(), QStringLiteral("前"));
    w.LockNow(true);
    QVERIFY(w.SignInAs("nurse01", PasswordOf("nurse01")));
    QCOMPARE(box->toPlainText(), QStringLiteral("山田さんの入力"));
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon").toString(), QStringLiteral("前"));
}

// A clerk views and prints; nothing of theirs is written.
void TstSignIn::clerkCannotWrite() {
    WindowFixture f;
    AddStaff(f, "clerk1", "受付太郎", "clerk");
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "前");
    f.Open();
    auto& w = *f.window;
    QVERIFY(w.StartSignIn());
    QVERIFY(w.SignInAs("clerk1", PasswordOf("clerk1")));
    for (int i : {0, 3, 4}) {
        auto* button = Ctl<QPushButton>(w, "cmdProcess", i);
        QVERIFY2(!button->isEnabled(), qPrintable(button->text()));
        QCOMPARE(button->toolTip(), ClerkReason());
    }
    QVERIFY(Ctl<QPushButton>(w, "cmdProcess", 5)->isEnabled());
    QVERIFY(!Ctl<QPushButton>(w, "cmdProcess", 7)->isEnabled());
    QVERIFY(Ctl<QPlainTextEdit>(w, "txtLData", 0)->isReadOnly());
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(QStringLiteral("書けないはず"));
    f.WriteLink("1", "12346");
    w.Rtn_LinkCheck();
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("前"));
    bool refused = false;
    w.runRecords = [&](FrmRecords& dialog) {
        auto* restore = Ctl<QPushButton>(dialog, "cmdRestore");
        refused = !restore->isEnabled() && restore->toolTip() == ClerkReason();
    };
    f.WriteLink("1", "12345");
    w.Rtn_LinkCheck();
    w.OpenDeletedMemos(0);
    QVERIFY(refused);
}

void TstSignIn::lockedWindowDoesNotClose() {
    WindowFixture f;
    AddStaff(f, "nurse01", "山田花子", "nurse");
    f.Open();
    auto& w = *f.window;
    QVERIFY(w.StartSignIn());
    QVERIFY(w.SignInAs("nurse01", PasswordOf("nurse01")));
    w.LockNow(false);
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QVERIFY(f.prompter.shown.empty());
}

// A staff table changed by hand so that it cannot be read: nobody passes,
// everybody is told why.
void TstSignIn::staffTableChangedByHand() {
    WindowFixture f;
    AddStaff(f, "nurse01", "山田花子", "nurse");
    f.Exec("Drop Table tblMasStaff");
    f.Exec("Create Table tblMasStaff (Login TEXT, Who TEXT)");
    f.Exec("Insert Into tblMasStaff Values ('nurse01', 'x')");
    f.Open();
    auto& w = *f.window;
    QVERIFY(w.StartSignIn());
    QVERIFY(w.Locked());
    QVERIFY(!w.SignInAs("nurse01", PasswordOf("nurse01")));
    QVERIFY(w.Locked());
    const QString message = Ctl<QLabel>(w, "lblSignInMessage")->text();
    QVERIFY2(message.contains(QStringLiteral("職員の表")), qPrintable(message));
    QVERIFY(f.prompter.shown.empty());
}

QTEST_MAIN(TstSignIn)
#include "tst_sign_in.moc"
