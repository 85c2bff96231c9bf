#pragma once

class QWidget;

namespace ondrel {

struct AppContext;

// The window's section of Ondrel.ini is its objectName (frmOndrel, frmPrint,
// frmEnv). Only the main window restores its size; the dialogs keep theirs.
// WinWidth and WinHeight are the outer size, frame included, as Windows
// saved them. The frame is known once the window is shown: the window calls
// FitOuterSize from its first show to take the frame off its inner size.
void RestoreWindowPlacement(const AppContext& ctx, QWidget& window);
void SaveWindowPlacement(const AppContext& ctx, QWidget& window);
void FitOuterSize(QWidget& window);
// Before the window is shown; nothing removes it later.
void SetTopmost(QWidget& window);

}  // namespace ondrel
