// Faults found under stress: the wrong patient, a lost or changed memo.
#include <sqlite3.h>
#include <sys/resource.h>

#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <thread>

#include "core/app_error.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

namespace {

// Another program (the chart system, an import) holding the write lock until
// it is let go, or for a given time.
class WriteLockHolder {
  public:
    WriteLockHolder(const QString& path, int maxMs) {
        thread_ = std::thread([this, file = path.toUtf8(), maxMs] {
            sqlite3* db = nullptr;
            sqlite3_open(file.constData(), &db);
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            locked_ = true;
            for (int waited = 0; !release_ && waited < maxMs; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        });
        while (!locked_) std::this_thread::yield();
    }
    ~WriteLockHolder() { Release(); }
    void Release() {
        release_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<bool> locked_ = false;
    std::atomic<bool> release_ = false;
    std::thread thread_;
};

void TypeText(QWidget* w, const QString& text) {
    for (QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

}  // namespace

class TstSafety : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void longChartNumbers_data();
    void longChartNumbers();
    void typingStillLimited();
    void tornLinkFile();
    void busyDatabase_data();
    void busyDatabase();
    void shortLockWaitsAndSaves();
    void viewedMemoStoredUnchanged_data();
    void viewedMemoStoredUnchanged();
    void enterSavesFirst();
    void fullDiskKeepsTheText();
};

// The whole value is checked, never one cut to the box's ten characters; a
// link value that is no chart number is told and the patient shown stays.
void TstSafety::longChartNumbers_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("box");
    QTest::addColumn<qint64>("shown");
    QTest::addColumn<QString>("message");
    const QString wrong = QStringLiteral("カルテ番号が不正です。");
    QTest::newRow("11 digits") << "12345678901"
                               << "1234-5" << qint64(12345) << wrong;
    QTest::newRow("beyond 32 bits") << "1099511627776"
                                    << "1234-5" << qint64(12345) << wrong;
    QTest::newRow("just beyond") << "2147483648"
                                 << "1234-5" << qint64(12345) << wrong;
    QTest::newRow("10 digits, registered") << "2147483647"
                                           << "214748364-7" << qint64(2147483647) << QString();
    QTest::newRow("10 digits with dash") << "214748364-7"
                                         << "214748364-7" << qint64(2147483647) << QString();
}

void TstSafety::longChartNumbers() {
    QFETCH(QString, link);
    QFETCH(QString, box);
    QFETCH(qint64, shown);
    QFETCH(QString, message);
    WindowFixture f;
    f.Exec(
        QStringLiteral("Insert Into 患者マスター (カルテ番号, 氏名) Values (2147483647, '十桁')"));
    f.SetIni({"KarteNoInput=1"});
    f.Open();
    f.WriteLink("1", link);
    f.window->Rtn_LinkCheck();
    QCOMPARE(Ctl<QLineEdit>(*f.window, "txtPersonalID")->text(), box);
    QCOMPARE(qint64(f.window->ShownChartNo().value_or(FullChartNo(-1)).value), shown);
    QCOMPARE(f.prompter.Texts(), message.isEmpty() ? QStringList() : QStringList{message});
}

void TstSafety::typingStillLimited() {
    WindowFixture f;
    f.SetIni({"KarteNoInput=1"});
    f.Open();
    auto* box = Ctl<QLineEdit>(*f.window, "txtPersonalID");
    box->clear();
    box->setFocus();
    QTest::keyClicks(box, "123456789012");
    QCOMPARE(box->text(), QStringLiteral("1234567890"));
}

// The link bar rewrites the file in place while it is read: a value seen
// once is taken only when a second read a moment later agrees.
void TstSafety::tornLinkFile() {
    WindowFixture f;
    f.Open();
    const QString path = f.Root() + "/1-99リンクバーZEV/カルテ番号.ini";
    WriteBytes(path, "[Patient.Info]\r\nStatus=1\r\nKarteNoBranch=1");
    f.clock.onPause = [&] { f.WriteLink("1", "12346"); };
    f.window->Rtn_LinkCheck();
    QCOMPARE(f.window->ShownChartNo()->value, 12345);
    QVERIFY(f.prompter.shown.empty());
    f.clock.onPause = nullptr;
    f.window->Rtn_LinkCheck();
    QCOMPARE(f.window->ShownChartNo()->value, 12346);
    QVERIFY(f.prompter.shown.empty());
}

// The lock outlasts the busy timeout: the user is told, the program, the
// patient, the page and the text stay, and the same command works later.
void TstSafety::busyDatabase_data() {
    QTest::addColumn<QString>("command");
    for (const char* c : {"save", "category", "link", "enter", "new"}) QTest::newRow(c) << c;
}

void TstSafety::busyDatabase() {
    QFETCH(QString, command);
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "before");
    f.Open();
    auto& w = *f.window;
    const QString typed = QStringLiteral("入力した指導内容");
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(typed);
    f.WriteLink("1", "12346");
    auto run = [&] {
        if (command == u"save") {
            f.prompter.Answer({true});
            Ctl<QPushButton>(w, "cmdProcess", 4)->click();
        } else if (command == u"category") {
            Ctl<QTabWidget>(w, "tabMain")->setCurrentIndex(1);
        } else if (command == u"link") {
            w.Rtn_LinkCheck();
        } else if (command == u"enter") {
            Ctl<QLineEdit>(w, "txtPersonalID")->setText(QStringLiteral("12346"));
            Ctl<QLineEdit>(w, "txtPersonalID")->setFocus();
            QTest::keyClick(Ctl<QLineEdit>(w, "txtPersonalID"), Qt::Key_Return);
        } else {
            f.prompter.Answer({true});
            Ctl<QPushButton>(w, "cmdProcess", 0)->click();
        }
    };
    const auto memos = [&] { return f.Scalar("Select Count(*) From tblDatCommon").toInt(); };
    {
        ShortBusyTimeout shortWait;
        WriteLockHolder lock(f.DbPath(), 20000);
        run();
        QCOMPARE(f.prompter.Texts().size(), command == u"save" || command == u"new" ? 2 : 1);
        QCOMPARE(f.prompter.Texts().last(), DatabaseBusyMessage());
        QCOMPARE(w.ShownChartNo()->value, 12345);
        QCOMPARE(w.CurrentTab(), 0);
        QCOMPARE(w.LoadedCategory(), 0);
        QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(), typed);
        QVERIFY(Ctl<QWidget>(w, "picGroup", 0)->isVisible());
        QCOMPARE(memos(), 1);
    }
    f.prompter.shown.clear();
    run();
    QVERIFY(f.prompter.Texts().filter(DatabaseBusyMessage()).isEmpty());
    if (command == u"new") {
        QCOMPARE(memos(), 2);
    } else {
        QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
                 typed);
    }
}

void TstSafety::shortLockWaitsAndSaves() {
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "before");
    f.Open();
    Ctl<QPlainTextEdit>(*f.window, "txtLData", 0)->setPlainText(QStringLiteral("after"));
    WriteLockHolder lock(f.DbPath(), 1000);
    Ctl<QTabWidget>(*f.window, "tabMain")->setCurrentIndex(1);
    QVERIFY(f.prompter.shown.empty());
    QCOMPARE(f.window->LoadedCategory(), 1);
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("after"));
}

// Characters the memo box gives back differently must survive a view, and
// an edit keeps every character the user did not touch.
void TstSafety::viewedMemoStoredUnchanged_data() {
    QTest::addColumn<QString>("stored");
    QTest::newRow("no-break space") << QStringLiteral("血圧\u00a0120/80");
    QTest::newRow("line separator") << QStringLiteral("一行目\u2028二行目");
    QTest::newRow("paragraph separator") << QStringLiteral("一段目\u2029二段目");
    QTest::newRow("lone CR") << QStringLiteral("前\r後");
    QTest::newRow("lone LF") << QStringLiteral("前\n後");
    QTest::newRow("CR LF") << QStringLiteral("前\r\n後\r\n");
    QTest::newRow("CR CR LF") << QStringLiteral("a\r\r\nb");
    QTest::newRow("mixed") << QStringLiteral("\u00a0a\rb\nc\r\nd\u2028e\u2029f\tg  ");
}

void TstSafety::viewedMemoStoredUnchanged() {
    QFETCH(QString, stored);
    for (const QString& edit : {QString(), QStringLiteral("追記")}) {
        WindowFixture f;
        const qint32 key = f.AddMemo(0, 12345, "2024-04-01", stored);
        f.Open();
        auto* box = Ctl<QPlainTextEdit>(*f.window, "txtLData", 0);
        if (!edit.isEmpty()) {
            box->setFocus();
            box->moveCursor(QTextCursor::End);
            TypeText(box, edit);
            box->moveCursor(QTextCursor::Start);
            TypeText(box, edit);
        }
        Ctl<QTabWidget>(*f.window, "tabMain")->setCurrentIndex(1);
        Ctl<QTabWidget>(*f.window, "tabMain")->setCurrentIndex(0);  // shown again and left again
        Ctl<QTabWidget>(*f.window, "tabMain")->setCurrentIndex(1);
        QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
                 edit + stored + edit);
    }
}

// A patient change by hand saves the memo on screen first, as the link's does.
void TstSafety::enterSavesFirst() {
    WindowFixture f;
    f.SetIni({"KarteNoInput=1"});
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "before");
    f.Open();
    auto& w = *f.window;
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(QStringLiteral("typed before Enter"));
    Ctl<QLineEdit>(w, "txtPersonalID")->setText(QStringLiteral("12346"));
    Ctl<QLineEdit>(w, "txtPersonalID")->setFocus();
    QTest::keyClick(Ctl<QLineEdit>(w, "txtPersonalID"), Qt::Key_Return);
    QCOMPARE(w.ShownChartNo()->value, 12346);
    QVERIFY(f.prompter.shown.empty());
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("typed before Enter"));
}

// The disk fills while the memo is saved: the user is told, patient, page
// and text stay, nothing is half written, and the save goes through once
// there is room again.
void TstSafety::fullDiskKeepsTheText() {
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "before");
    f.Open();
    auto& w = *f.window;
    const QString typed = QString(40000, u'字');  // far more than the file has room for
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(typed);
    {
        FileSizeLimit full(rlim_t(QFileInfo(f.DbPath()).size()));
        f.prompter.Answer({true});
        Ctl<QPushButton>(w, "cmdProcess", 4)->click();
    }
    const QString told = f.prompter.Texts().join(u'\n');
    QVERIFY2(told.contains(QStringLiteral("画面の内容はそのままです")), qPrintable(told));
    QCOMPARE(w.ShownChartNo()->value, 12345);
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(), typed);
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("before"));
    QCOMPARE(f.Scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    f.prompter.shown.clear();
    f.prompter.Answer({true});
    Ctl<QPushButton>(w, "cmdProcess", 4)->click();
    QCOMPARE(f.prompter.Texts().size(), 1);  // the question only
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             typed);
}

QTEST_MAIN(TstSafety)
#include "tst_safety.moc"
