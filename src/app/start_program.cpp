#include "app/start_program.h"

#include "core/app_context.h"
#include "core/db_target.h"
#include "core/startup.h"
#include "core/trap.h"
#include "data/backup.h"
#include "data/patient_lookup.h"
#include "data/system_db.h"
#include "report/office.h"
#include "ui/main/frm_ondrel.h"
#include "ui/print/frm_print.h"
#include "ui/settings/frm_env.h"

namespace ondrel {

PrintSubject PrintSubjectOf(const FrmOndrel& main) {
    return PrintSubject{main.ReportHeader(), main.ShownKarteNo(), main.CurrentTab(),
                        main.ShownChartNo()};
}

std::unique_ptr<FrmOndrel> StartProgram(AppContext& ctx, const QStringList& arguments,
                                        SingleInstance& instance,
                                        const std::optional<OfficeConfig>& officeConfig,
                                        const std::function<bool()>& firstStart) {
    if (RunStartupSteps(ctx, arguments, instance, firstStart) != StartupOutcome::Continue)
        return nullptr;
    // A server is asked now, so the start ends as for a missing file.
    if (Session(ctx).Target(ctx.settings.SystemDB).IsServer()) {
        if (const QString problem = ServerStartProblem(ctx); !problem.isEmpty()) {
            ctx.prompter.Warning(ctx.settings.Title, problem);
            return nullptr;
        }
    }
    // A restore waits until this program has ended.
    HoldDatabaseInUse(ctx.settings.SystemDB);
    // The start's reads, the clinic's and the window's opening, share one
    // connection to the file.
    CommandConnection opening(ctx);
    // Read as the Windows program read it at start; nothing shows it yet.
    WithCommandTrap(ctx, nullptr,
                    [&] { [[maybe_unused]] const auto clinic = LoadClinicInfo(ctx); });
    return WithTrap(ctx, nullptr, [&] {
        auto window = std::make_unique<FrmOndrel>(ctx);
        // One office for the run: only the first report pays its start.
        auto office =
            std::make_shared<Office>(officeConfig.value_or(OfficeConfig::For(ctx.ProgramFolder)));
        // An office left with nothing to show goes with the program, also when
        // the error report ends it.
        ctx.end.AtEnd([weak = std::weak_ptr<Office>(office)] {
            if (auto o = weak.lock()) o->EndIfIdle();
        });
        window->printMemo = [&ctx, office](FrmOndrel& main) {
            Rtn_DataPrint(ctx, *office, main.MemoReport(), main.ShownChartNo());
        };
        window->openPrintDialog = [&ctx, office](FrmOndrel& main) {
            FrmPrint dialog(ctx, PrintSubjectOf(main), *office, &main);
            dialog.Form_Load();
            dialog.exec();
        };
        window->openSettings = [&ctx](FrmOndrel& main) {
            FrmEnv dialog(ctx, &main);
            dialog.Form_Load();
            dialog.exec();
        };
        window->quitProgram = [w = window.get()] { w->close(); };
        window->Form_Load();
        window->StartSignIn();
        window->show();
        return window;
    });
}

}  // namespace ondrel
