// Renders the main window on a demo-like database to PNG files for review.
#include <QDir>
#include <QTabWidget>
#include <QtTest>

#include "core/app_settings.h"
#include "ui/settings/frm_env.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstRender : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void mainWindow() {
        WindowFixture f;
        f.AddMemo(0, 12345, "2026-11-02", "塩分を控えめにするよう指導。\r\n味噌汁は一日一杯まで。");
        f.AddMemo(0, 12345, "2026-12-01", "毎日三十分の散歩を勧めた。");
        f.AddMemo(0, 12345, "2026-12-08", "血圧手帳を毎朝記録すること。");
        f.AddMemo(3, 12345, "2026-12-03", "転倒に注意。手すりの設置を勧めた。");
        f.Open();
        const QString out = qEnvironmentVariable("ONDREL_TEST_BIN") + "/main-window.png";
        QVERIFY(f.window->grab().save(out));
        qInfo("rendered %s", qPrintable(out));
        // A page whose list and history were built after the first paint.
        Ctl<QTabWidget>(*f.window, "tabMain")->setCurrentIndex(3);
        const QString page = qEnvironmentVariable("ONDREL_TEST_BIN") + "/main-window-page-3.png";
        QVERIFY(f.window->grab().save(page));
        qInfo("rendered %s", qPrintable(page));
    }
    void settingsDialog() {
        WindowFixture f;
        FrmEnv d(*f.ctx);
        d.Form_Load();
        d.show();
        QVERIFY(d.grab().save(qEnvironmentVariable("ONDREL_TEST_BIN") + "/settings-dialog.png"));
    }
};

QTEST_MAIN(TstRender)
#include "tst_render.moc"
