#include <QApplication>

#include "app_context.h"
#include "frm_ondrel.h"
#include "gui_setup.h"
#include "message_box_prompter.h"
#include "override_wait_cursor.h"
#include "start_program.h"
#include "startup.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ondrel::SetUpApplication(app);

    ondrel::MessageBoxPrompter prompter;
    ondrel::SystemClock clock;
    ondrel::OverrideWaitCursor waitCursor;
    ondrel::ProcessExit end;
    ondrel::AppContext ctx(QCoreApplication::applicationDirPath(), prompter, clock, waitCursor,
                           end);

    ondrel::SingleInstance instance(QCoreApplication::applicationFilePath());
    auto window = ondrel::StartProgram(ctx, QCoreApplication::arguments().mid(1), instance);
    if (!window) return 1;
    return app.exec();
}
