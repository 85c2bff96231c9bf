#include "core/app_settings.h"

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/conversions.h"
#include "core/error_report.h"
#include "core/ini_file.h"

namespace ondrel {

void LoadSettings(AppContext& ctx) {
    try {
        const QString path = SettingsFilePath(ctx);
        const QString section = QStringLiteral("System");
        auto& s = ctx.settings;
        auto number = [&](const QString& key) {
            return ToInt16(NullToZero(ReadIniString(path, section, key)));
        };
        s.Title = ReadIniString(path, section, QStringLiteral("Title"));
        s.SystemDB = ReadIniString(path, section, QStringLiteral("SystemDB"));
        for (int i = 1; i <= 3; ++i) {
            s.MessageFlg[i] = number(QStringLiteral("MessageFlg") + QString::number(i));
        }
        s.KarteNoInput = number(QStringLiteral("KarteNoInput"));
        s.DefaultTab = number(QStringLiteral("DefaultTab"));
        s.PrintFlg = number(QStringLiteral("PrintFlg"));
        s.WindowTop = number(QStringLiteral("WindowTop"));
    } catch (const AppError& e) {
        ErrorReport(ctx, e.number(), nullptr);
    }
}

}  // namespace ondrel
