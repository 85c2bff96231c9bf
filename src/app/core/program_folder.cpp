#include "program_folder.h"

#include <QDir>
#include <QFileInfo>

namespace ondrel {

namespace {

QString SharedFolder(const QString& executableFolder) {
    return QDir::cleanPath(executableFolder + QStringLiteral("/../share/ondrel"));
}

}  // namespace

FolderEnvironment FolderEnvironment::FromProcess() {
    return {qEnvironmentVariable("ONDREL_HOME"), qEnvironmentVariable("XDG_DATA_HOME"),
            QDir::homePath()};
}

QString ProgramFolderFor(const QString& executableFolder, const FolderEnvironment& env) {
    if (QFileInfo::exists(executableFolder + QStringLiteral("/Ondrel.ini")))
        return executableFolder;
    const bool installed = QFileInfo(SharedFolder(executableFolder)).isDir();
    if (!installed && QFileInfo(executableFolder).isWritable()) return executableFolder;
    if (!env.ondrelHome.isEmpty()) return QDir(env.ondrelHome).absolutePath();
    // The XDG rule: a relative XDG_DATA_HOME is ignored.
    const QString data = !env.xdgDataHome.isEmpty() && QDir::isAbsolutePath(env.xdgDataHome)
                             ? env.xdgDataHome
                             : env.home + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/ondrel"));
}

QString ShippedTemplateFolder(const QString& executableFolder) {
    const QString shared = SharedFolder(executableFolder) + QStringLiteral("/Template");
    if (QFileInfo(shared).isDir()) return shared;
    return executableFolder + QStringLiteral("/Template");
}

QString LinkFolderFor(const QString& programFolder) {
    return QDir::cleanPath(programFolder + QStringLiteral("/../1-99リンクバーZEV"));
}

}  // namespace ondrel
