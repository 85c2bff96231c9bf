#pragma once

class QApplication;

namespace ondrel {

// Japanese texts for Qt's own buttons and dialogs, and the Windows font
// names of the layouts mapped to the installed IPA fonts.
void SetUpApplication(QApplication& app);

}  // namespace ondrel
