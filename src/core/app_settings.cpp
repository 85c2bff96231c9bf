#include "core/app_settings.h"

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/conversions.h"
#include "core/error_report.h"
#include "core/ini_file.h"

namespace ondrel {

namespace {

const QString kSystem = QStringLiteral("System");

void SaveNumber(AppContext& ctx, const QString& key, qint16 value, qint16& loaded) {
    WriteIniString(SettingsFilePath(ctx), kSystem, key, QString::number(value));
    loaded = value;
}

}  // namespace

void SaveWindowTop(AppContext& ctx, bool onTop) {
    SaveNumber(ctx, QStringLiteral("WindowTop"), onTop ? 1 : 0, ctx.settings.WindowTop);
}

void SaveDefaultTab(AppContext& ctx, int tab) {
    SaveNumber(ctx, QStringLiteral("DefaultTab"), qint16(tab), ctx.settings.DefaultTab);
}

void SavePrintFlg(AppContext& ctx, bool print) {
    SaveNumber(ctx, QStringLiteral("PrintFlg"), print ? 1 : 0, ctx.settings.PrintFlg);
}

void LoadSettings(AppContext& ctx) {
    try {
        const QString path = SettingsFilePath(ctx);
        const QString& section = kSystem;
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
