#include <QApplication>

#include "app_context.h"
#include "gui_setup.h"
#include "message_box_prompter.h"
#include "override_wait_cursor.h"
#include "patient_lookup.h"
#include "startup.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ondrel::SetUpApplication(app);

    ondrel::MessageBoxPrompter prompter;
    ondrel::SystemClock clock;
    ondrel::OverrideWaitCursor waitCursor;
    ondrel::ProcessExit end;
    ondrel::AppContext ctx(QCoreApplication::applicationDirPath(), prompter, clock, waitCursor, end);

    ondrel::SingleInstance instance(QCoreApplication::applicationFilePath());
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (ondrel::RunStartupSteps(ctx, args, instance) != ondrel::StartupOutcome::Continue) return 1;
    ondrel::LoadClinicInfo(ctx);
    return 0;
}
