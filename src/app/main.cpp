#include <fontconfig/fontconfig.h>

#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <cstdio>
#include <thread>

#include "app/start_program.h"
#include "core/app_context.h"
#include "core/program_folder.h"
#include "core/startup.h"
#include "data/japanese_date.h"
#include "gui/gui_setup.h"
#include "gui/message_box_prompter.h"
#include "gui/override_wait_cursor.h"
#include "ui/main/frm_ondrel.h"
#include "ui/setup/frm_setup.h"

namespace {

// Qt aborts when it cannot open a display; a clinic user gets a sentence.
bool DisplayReachable() {
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM") ||
        qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        return true;
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) return false;
    // A local display ":N" has its socket; anything else is left to Qt.
    if (!display.startsWith(':')) return true;
    const QByteArray number = display.mid(1).split('.').first();
    return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X") + QString::fromLatin1(number));
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!DisplayReachable()) {
        std::fputs(
            "指導指示管理: 画面を開けません。デスクトップにログインしてから起動して下さい"
            "（DISPLAY が設定されていないか、その画面がありません）。\n",
            stderr);
        return 1;
    }
    // Reading the font configuration is the largest single cost before the
    // first window, the era table from ICU's data the next: both are read
    // while Qt connects to the display and the settings and database are
    // read. Each is safe to race with the window's own first use.
    std::jthread warmUp([] {
        FcInit();
        [[maybe_unused]] const QString era = ondrel::FormatEraShort(QDate(2019, 5, 1));
    });
    QApplication app(argc, argv);
    ondrel::SetUpApplication(app);

    ondrel::MessageBoxPrompter prompter;
    ondrel::SystemClock clock;
    ondrel::OverrideWaitCursor waitCursor;
    ondrel::ProcessExit end;
    ondrel::AppContext ctx(ondrel::ProgramFolderFor(QCoreApplication::applicationDirPath()),
                           prompter, clock, waitCursor, end);

    ondrel::SingleInstance instance(QCoreApplication::applicationFilePath());
    const auto firstStart = [&ctx] {
        return ondrel::FrmSetup::Run(
            ctx, ondrel::ShippedTemplateFolder(QCoreApplication::applicationDirPath()));
    };
    auto window = ondrel::StartProgram(ctx, QCoreApplication::arguments().mid(1), instance,
                                       std::nullopt, firstStart);
    if (!window) return 1;
    return app.exec();
}
