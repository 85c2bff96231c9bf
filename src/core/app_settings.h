#pragma once

namespace ondrel {

struct AppContext;

// Fills ctx.settings from Ondrel.ini in the program folder; a numeric key that
// is not a 16-bit number goes to the error report.
void LoadSettings(AppContext& ctx);

}  // namespace ondrel
