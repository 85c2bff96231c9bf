#include "core/program_folder.h"

#include <QDir>
#include <QFileInfo>

namespace ondrel {

namespace {

// An installed program's shared files: share/ondrel beside bin/, or above
// lib/ondrel/ where the programs that need the office's libraries live.
QString SharedFolder(const QString& executableFolder) {
    for (const char* up : {"/../share/ondrel", "/../../share/ondrel"}) {
        const QString candidate = QDir::cleanPath(executableFolder + QLatin1String(up));
        if (QFileInfo(candidate).isDir()) return candidate;
    }
    return {};
}

}  // namespace

FolderEnvironment FolderEnvironment::FromProcess() {
    return {qEnvironmentVariable("ONDREL_HOME"), qEnvironmentVariable("XDG_DATA_HOME"),
            QDir::homePath()};
}

QString ProgramFolderFor(const QString& executableFolder, const FolderEnvironment& env) {
    if (QFileInfo::exists(executableFolder + QStringLiteral("/Ondrel.ini")))
        return executableFolder;
    const bool installed = !SharedFolder(executableFolder).isEmpty();
    if (!installed && QFileInfo(executableFolder).isWritable()) return executableFolder;
    if (!env.ondrelHome.isEmpty()) return QDir(env.ondrelHome).absolutePath();
    // The XDG rule: a relative XDG_DATA_HOME is ignored.
    const QString data = !env.xdgDataHome.isEmpty() && QDir::isAbsolutePath(env.xdgDataHome)
                             ? env.xdgDataHome
                             : env.home + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/ondrel"));
}

QString ShippedTemplateFolder(const QString& executableFolder) {
    if (const QString shared = SharedFolder(executableFolder); !shared.isEmpty())
        return shared + QStringLiteral("/Template");
    return executableFolder + QStringLiteral("/Template");
}

}  // namespace ondrel
