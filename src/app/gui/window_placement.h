#pragma once

class QWidget;

namespace ondrel {

struct AppContext;

// The window's section of Ondrel.ini is its objectName (frmOndrel, frmPrint,
// frmEnv). Only the main window restores its size; the dialogs keep theirs.
void RestoreWindowPlacement(const AppContext& ctx, QWidget& window);
void SaveWindowPlacement(const AppContext& ctx, QWidget& window);
// Before the window is shown; nothing removes it later.
void SetTopmost(QWidget& window);

}  // namespace ondrel
