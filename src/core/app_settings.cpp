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
        // One read of the file for every key.
        QStringList keys{QStringLiteral("Title"),        QStringLiteral("SystemDB"),
                         QStringLiteral("KarteNoInput"), QStringLiteral("DefaultTab"),
                         QStringLiteral("PrintFlg"),     QStringLiteral("WindowTop")};
        for (int i = 1; i <= 3; ++i) keys << QStringLiteral("MessageFlg") + QString::number(i);
        const QStringList v =
            ReadIniStrings(path, section, keys).value_or(QStringList(keys.size(), QString()));
        auto number = [&](int at) { return ToInt16(NullToZero(v[at])); };
        s.Title = v[0];
        s.SystemDB = v[1];
        s.KarteNoInput = number(2);
        s.DefaultTab = number(3);
        s.PrintFlg = number(4);
        s.WindowTop = number(5);
        for (int i = 1; i <= 3; ++i) s.MessageFlg[i] = number(5 + i);
    } catch (const AppError& e) {
        ErrorReport(ctx, e.number(), nullptr);
    }
}

}  // namespace ondrel
