#include "core/startup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "core/app_context.h"
#include "core/app_settings.h"
#include "core/db_target.h"
#include "core/ini_file.h"

namespace ondrel {

SingleInstance::SingleInstance(const QString& executablePath) {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    const QByteArray hash = QCryptographicHash::hash(
        QFileInfo(executablePath).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1);
    path_ = dir + QStringLiteral("/ondrel-") + QString::fromLatin1(hash.toHex().left(16)) +
            QStringLiteral(".lock");
}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) ::close(fd_);
}

// The kernel's lock on the file: held however long the program runs, gone
// with its process however that ends, and nothing written to the disk (a
// lock file's contents were flushed to disk at every start).
bool SingleInstance::TryAcquire() {
    if (fd_ >= 0) return true;
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool SystemDbExists(const AppContext& ctx) {
    if (ctx.settings.SystemDB.isEmpty()) return false;
    if (DbTarget::Of(ctx.settings.SystemDB).IsServer())
        return true;  // the data layer asks the server
    // isFile() follows links and is false for folders, devices and pipes.
    return QFileInfo(ctx.settings.SystemDB).isFile();
}

QString JoinStartKarteNo(const QStringList& arguments) {
    QString joined = arguments.join(u' ');
    return joined.isEmpty() ? QStringLiteral("0") : joined;
}

StartupOutcome RunStartupSteps(AppContext& ctx, const QStringList& arguments,
                               SingleInstance& instance, const std::function<bool()>& firstStart) {
    if (!instance.TryAcquire()) {
        ctx.prompter.Beep();
        ctx.prompter.Warning(ctx.settings.Title,
                             QStringLiteral("当システムは既に起動されています。"));
        return StartupOutcome::AlreadyRunning;
    }
    if (firstStart && !QFileInfo::exists(SettingsFilePath(ctx)) && !firstStart())
        return StartupOutcome::SetUpCancelled;
    // A settings file is a few hundred bytes; one of megabytes is no
    // settings file (and would cost seconds at every read).
    if (const qint64 size = QFileInfo(SettingsFilePath(ctx)).size(); size > kIniSizeLimit) {
        ctx.prompter.Warning(
            ctx.settings.Title,
            QStringLiteral("設定ファイル（%1）が大きすぎるため、読み込めません（%2 バイト）。\r\n"
                           "設定ファイルではないか、壊れているおそれがあります。"
                           "管理者に連絡して下さい。")
                .arg(QDir::toNativeSeparators(SettingsFilePath(ctx)))
                .arg(size));
        return StartupOutcome::SettingsTooLarge;
    }
    LoadSettings(ctx);
    if (!SystemDbExists(ctx)) {
        ctx.prompter.Warning(ctx.settings.Title,
                             QStringLiteral("システムデータベースが見つかりません。\r\n"
                                            "先にzevシステムバーから環境設定を行って下さい。"));
        return StartupOutcome::NoSystemDb;
    }
    ctx.settings.StartKarteNo = JoinStartKarteNo(arguments);
    return StartupOutcome::Continue;
}

}  // namespace ondrel
