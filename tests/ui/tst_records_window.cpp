// 変更履歴… and 削除したメモ… from the date list: an old version and a deleted
// memo brought back through the window, each a new revision the chain holds.
#include <QContextMenuEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include "data/db_connection.h"
#include "data/revisions.h"
#include "ui/main/frm_records.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstRecordsWindow : public QObject {
    Q_OBJECT

    static void Save(WindowFixture& f, const QString& text) {
        Ctl<QPlainTextEdit>(*f.window, "txtLData", 0)->setPlainText(text);
        f.prompter.Answer({true});
        Ctl<QPushButton>(*f.window, "cmdProcess", 4)->click();
    }
    static void Pick(FrmRecords& d, int row) {
        auto* grid = Ctl<QTableView>(d, "grdRevisions");
        grid->setCurrentIndex(grid->model()->index(row, 0));
    }
    static QStringList Verify(const TestDbProgram& p) {
        DbConnection cn;
        if (!OpenDbConnectionAt(p.DbPath(), cn)) return {"cannot open"};
        return VerifyRecords(cn);
    }

  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void revertToAnOldVersion();
    void restoreADeletedMemo();
    void manyVersionsOpenAtTheLatest();
    void contextMenuOnTheDateList();
    void dailyBackupWhenClosingAfterAChange();
};

void TstRecordsWindow::revertToAnOldVersion() {
    WindowFixture f;
    f.Open();
    f.prompter.Answer({true});
    Ctl<QPushButton>(*f.window, "cmdProcess", 0)->click();  // 新規作成
    Save(f, QStringLiteral("初版"));
    Save(f, QStringLiteral("二版"));
    const qint32 key = *f.window->MainKeyShown(0);
    QStringList seen;
    f.window->runRecords = [&](FrmRecords& d) {
        auto* grid = Ctl<QTableView>(d, "grdRevisions");
        for (int r = 0; r < grid->model()->rowCount(); ++r)
            seen << grid->model()->index(r, 1).data().toString() + u' ' +
                        grid->model()->index(r, 4).data().toString();
        d.grab().save(qEnvironmentVariable("ONDREL_TEST_BIN") + "/revisions-dialog.png");
        // Opened at the version the memo is at now: nothing to go back to.
        QVERIFY(!Ctl<QPushButton>(d, "cmdRestore")->isEnabled());
        // The content has the room the other columns leave, its whole text on hover.
        QVERIFY2(grid->columnWidth(4) >= grid->viewport()->width() / 3,
                 qPrintable(QString::number(grid->columnWidth(4))));
        QCOMPARE(grid->model()->index(2, 4).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("二版"));
        Pick(d, 1);
        QVERIFY(Ctl<QPushButton>(d, "cmdRestore")->isEnabled());
        QCOMPARE(Ctl<QPlainTextEdit>(d, "txtRevision")->toPlainText(), QStringLiteral("初版"));
        f.prompter.Answer({true});
        d.cmdRestore_Click();
    };
    f.window->OpenRevisions(0);
    QCOMPARE(seen, (QStringList{"追加 ", "更新 初版", "更新 二版"}));
    QCOMPARE(Ctl<QPlainTextEdit>(*f.window, "txtLData", 0)->toPlainText(), QStringLiteral("初版"));
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("初版"));
    const auto revisions = ReadRevisions(*f.ctx, key);
    QCOMPARE(revisions.back().action, QStringLiteral("revert"));
    QCOMPARE(Verify(f), QStringList());
    // The page holds the version just written: a further save is a plain one.
    Save(f, QStringLiteral("三版"));
    QVERIFY(f.prompter.Texts().filter(QStringLiteral("他の端末")).isEmpty());
}

void TstRecordsWindow::restoreADeletedMemo() {
    WindowFixture f;
    f.Open();
    f.prompter.Answer({true});
    Ctl<QPushButton>(*f.window, "cmdProcess", 0)->click();
    Save(f, QStringLiteral("消してしまうメモ"));
    const qint32 key = *f.window->MainKeyShown(0);
    f.prompter.Answer({true});
    Ctl<QPushButton>(*f.window, "cmdProcess", 3)->click();  // 削除
    QVERIFY(!f.window->MainKeyShown(0) || *f.window->MainKeyShown(0) != key);
    int listed = -1;
    f.window->runRecords = [&](FrmRecords& d) {
        listed = Ctl<QTableView>(d, "grdRevisions")->model()->rowCount();
        d.grab().save(qEnvironmentVariable("ONDREL_TEST_BIN") + "/deleted-memos-dialog.png");
        f.prompter.Answer({true});
        d.cmdRestore_Click();
    };
    f.window->OpenDeletedMemos(0);
    QCOMPARE(listed, 1);
    QCOMPARE(f.window->MainKeyShown(0), std::optional<qint32>(key));
    QCOMPARE(Ctl<QPlainTextEdit>(*f.window, "txtLData", 0)->toPlainText(),
             QStringLiteral("消してしまうメモ"));
    QCOMPARE(ReadRevisions(*f.ctx, key).back().action, QStringLiteral("restore"));
    QCOMPARE(ReadDeletedMemos(*f.ctx, 0, BaseChartNo(1234)).size(), size_t(0));
    QCOMPARE(Verify(f), QStringList());
    // Nothing deleted now: the dialog says so and offers nothing to restore.
    f.window->runRecords = [&](FrmRecords& d) {
        QVERIFY(!Ctl<QPushButton>(d, "cmdRestore")->isEnabled());
    };
    f.window->OpenDeletedMemos(0);
}

void TstRecordsWindow::manyVersionsOpenAtTheLatest() {
    WindowFixture f;
    f.Open();
    f.prompter.Answer({true});
    Ctl<QPushButton>(*f.window, "cmdProcess", 0)->click();
    const qint32 key = *f.window->MainKeyShown(0);
    {
        DbConnection cn;  // as the owner: the workstations change memos only through the server
        QVERIFY(OpenDbConnectionAt(f.OwnerDbPath(), cn));
        BeginTransaction(cn);
        for (int i = 0; i < 10000; ++i) {
            RunChange(cn, "Update tblDatCommon Set LText000 = ? Where MainKey = ?",
                      {QStringLiteral("版 %1\r\n二行目").arg(i), key});
            AppendRevision(cn, key, QStringLiteral("update"), *MemoRowValues(cn, key));
        }
        CommitTransaction(cn);
    }
    f.window->runRecords = [&](FrmRecords& d) {
        auto* grid = Ctl<QTableView>(d, "grdRevisions");
        QCOMPARE(grid->model()->rowCount(), 10001);
        QCOMPARE(grid->currentIndex().row(), 10000);
        QCOMPARE(Ctl<QPlainTextEdit>(d, "txtRevision")->toPlainText(),
                 QStringLiteral("版 9999\r\n二行目").replace("\r\n", "\n"));
        QCOMPARE(grid->model()->index(10000, 4).data().toString(), QStringLiteral("版 9999"));
    };
    f.window->OpenRevisions(0);
}

// Right click and the menu key open the same menu on the date list.
void TstRecordsWindow::contextMenuOnTheDateList() {
    WindowFixture f;
    f.AddMemo(0, 12345, "2024-04-01", "メモ");
    f.Open();
    auto* grid = Ctl<QTableView>(*f.window, "grdDateList", 0);
    for (const auto reason : {QContextMenuEvent::Mouse, QContextMenuEvent::Keyboard}) {
        QStringList entries;
        QTimer::singleShot(0, [&] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                for (QAction* a : popup->actions())
                    entries << a->text() + (a->isEnabled() ? "" : " (off)");
                popup->close();
            }
        });
        QContextMenuEvent event(reason, QPoint(10, 10),
                                grid->viewport()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(grid->viewport(), &event);
        QCOMPARE(entries, (QStringList{"変更履歴...", "削除したメモ..."}));
    }
}

// A file's copy when the window closes after a change, once a day; none when
// nothing was written.
void TstRecordsWindow::dailyBackupWhenClosingAfterAChange() {
    if (OnServer()) QSKIP("a server is backed up by ondrel-db backup");
    WindowFixture f;
    f.SetIni({"MessageFlg3=1", "[Backup]", "Folder=" + f.Root() + "/copies"});
    f.AddMemo(0, 12345, "2024-04-01", "メモ");
    const QDir copies(f.Root() + "/copies");
    auto closed = [&](const std::function<void()>& work) {
        f.Open();
        work();
        f.window->close();
        return copies.entryList({"ondrel-*.db"}, QDir::Files).size();
    };
    QCOMPARE(closed([] {}), 0);  // only looked at
    QCOMPARE(closed([&] { Save(f, QStringLiteral("一回目")); }), 1);
    QCOMPARE(closed([&] { Save(f, QStringLiteral("二回目")); }), 1);  // one a day
    QVERIFY(copies.exists(copies.entryList({"ondrel-*.db"}).value(0) + ".sha256"));
    QVERIFY(f.prompter.Texts().filter(QStringLiteral("バックアップ")).isEmpty());
}

QTEST_MAIN(TstRecordsWindow)
#include "tst_records_window.moc"
