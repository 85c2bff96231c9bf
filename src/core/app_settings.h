#pragma once

namespace ondrel {

struct AppContext;

// Fills ctx.settings from Ondrel.ini in the program folder; a numeric key that
// is not a 16-bit number goes to the error report.
void LoadSettings(AppContext& ctx);

// The keys the program writes back to [System], each written to Ondrel.ini
// and to the loaded settings in the same call.
void SaveWindowTop(AppContext& ctx, bool onTop);
void SaveDefaultTab(AppContext& ctx, int tab);
void SavePrintFlg(AppContext& ctx, bool print);

}  // namespace ondrel
