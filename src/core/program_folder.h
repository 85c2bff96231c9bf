#pragma once

#include <QString>

namespace ondrel {

// Where a run keeps Ondrel.ini, Template/ and 帳票/: beside the executable, as
// a clinic's program folder always was, unless that folder holds no
// Ondrel.ini and cannot serve as one (an installed program: not writable, or
// a system installation with its files in share/ondrel above it, which root
// could write but must not). Then ONDREL_HOME, else $XDG_DATA_HOME/ondrel,
// else ~/.local/share/ondrel.
struct FolderEnvironment {
    QString ondrelHome;   // ONDREL_HOME
    QString xdgDataHome;  // XDG_DATA_HOME
    QString home;         // HOME
    static FolderEnvironment FromProcess();
};
QString ProgramFolderFor(const QString& executableFolder,
                         const FolderEnvironment& env = FolderEnvironment::FromProcess());

// The template an installed program ships (share/ondrel/Template), else
// the one beside the executable.
QString ShippedTemplateFolder(const QString& executableFolder);

}  // namespace ondrel
