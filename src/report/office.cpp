#include "report/office.h"

#include <fcntl.h>
#include <sal/main.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <com/sun/star/awt/XTopWindow.hpp>
#include <com/sun/star/awt/XTopWindow2.hpp>
#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/awt/XWindow2.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNameReplace.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/DispatchHelper.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XDispatchProvider.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XPrintAreas.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSheetCellRange.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/util/XChangesBatch.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XMergeable.hpp>
#include <com/sun/star/view/XPrintable.hpp>
#include <condition_variable>
#include <cppuhelper/bootstrap.hxx>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

#include "core/app_error.h"

extern char** environ;

namespace ondrel {

namespace css = com::sun::star;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace {

// A folder only its owner may enter, made (with its parents) when missing.
void MakePrivateFolder(const QString& path) {
    QDir().mkpath(path);
    QFile::setPermissions(path,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// Without a start module, closing the last document closes its window: the
// office then shows nothing while a program of ours is connected, and ends by
// itself once none is. With it, the office's start screen covered the screen.
const QByteArray kNoStartModule =
    "<item oor:path=\"/org.openoffice.Setup/Office/Factories\"><node "
    "oor:name=\"com.sun.star.frame.StartModule\" oor:op=\"remove\"/></item>";

// Written into the profile's settings before the office reads them, so that
// the first office on a new profile already has it; a profile an earlier
// version made gets the line added. The office keeps it when it writes the
// file again.
void SeedSettingsFile(const QString& profile) {
    const QString folder = profile + QStringLiteral("/user");
    MakePrivateFolder(folder);
    QFile file(folder + QStringLiteral("/registrymodifications.xcu"));
    QByteArray text;
    if (file.open(QIODevice::ReadOnly)) text = file.readAll();
    file.close();
    if (text.contains(kNoStartModule)) return;
    const qsizetype end = text.lastIndexOf("</oor:items>");
    if (end < 0) {
        text =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
            "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n" +
            kNoStartModule + "\n</oor:items>\n";
    } else {
        text.insert(end, kNoStartModule + "\n");
    }
    // Best effort: an office that shows its start screen still prints.
    QSaveFile out(file.fileName());
    if (out.open(QIODevice::WriteOnly)) {
        out.write(text);
        out.commit();
    }
}

}  // namespace

namespace {

constexpr int kCannotStart = err::CannotCreateObject;  // 429
constexpr int kAutomation = err::Automation;
// Looking at an office at the program's end must never hold the end up.
constexpr std::chrono::milliseconds kEndDeadline{3000};

OUString ToOU(const QString& s) {
    return OUString(reinterpret_cast<const sal_Unicode*>(s.utf16()), int(s.size()));
}
QString FromOU(const OUString& s) {
    return QString(reinterpret_cast<const QChar*>(s.getStr()), s.getLength());
}
OUString FileUrl(const QString& path) {
    return ToOU(
        QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded));
}

css::beans::PropertyValue Prop(const char* name, const css::uno::Any& value) {
    css::beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

// The UNO runtime of this process, set up once: its environment and the
// local component context that connects to the office.
Reference<css::uno::XComponentContext> LocalContext() {
    static Reference<css::uno::XComponentContext> context = [] {
        static char name[] = "ondrel";
        static char* argv[] = {name, nullptr};
        sal_detail_initialize(1, argv);
        if (qEnvironmentVariableIsEmpty("URE_BOOTSTRAP")) {
            qputenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:" ONDREL_LO_PROGRAM "/fundamentalrc");
        }
        return cppu::defaultBootstrap_InitialComponentContext();
    }();
    return context;
}

// Failures of the office arrive as UNO exceptions; the program speaks AppError.
template <typename F>
auto Uno(int number, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const css::uno::Exception& e) {
        throw AppError(number, FromOU(e.Message));
    }
}

}  // namespace

struct Office::Impl {
    Reference<css::uno::XComponentContext> remote;
    Reference<css::frame::XDesktop2> desktop;
};

struct OfficeDocument::Impl {
    Reference<css::lang::XComponent> component;
    Reference<css::sheet::XSpreadsheet> FirstSheet() {
        Reference<css::sheet::XSpreadsheetDocument> doc(component, UNO_QUERY_THROW);
        Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
        return Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(0), UNO_QUERY_THROW);
    }
};

OfficeConfig OfficeConfig::For(const QString& programFolder) {
    OfficeConfig c;
    const QString folder = QFileInfo(programFolder).canonicalFilePath().isEmpty()
                               ? QFileInfo(programFolder).absoluteFilePath()
                               : QFileInfo(programFolder).canonicalFilePath();
    const QString key = QString::fromLatin1(
        QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex().left(12));
    c.pipeName = QStringLiteral("ondrel-office-%1-%2").arg(::getuid()).arg(key);
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) cache = QDir::tempPath();
    c.profileDir = cache + QStringLiteral("/ondrel/office-") + key;
    c.logFile = QDir(programFolder).filePath(QStringLiteral("office.log"));
    c.withDisplay =
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    return c;
}

// An office that cannot be started or reached is no fault of the program:
// told, with the log that holds the office's own words and ours.
void Office::CannotStart(const QString& why) const {
    if (!config_.logFile.isEmpty()) {
        QFile log(config_.logFile);
        if (log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            log.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            log.write(
                (QDateTime::currentDateTime().toString(Qt::ISODate) + u' ' + why + u'\n').toUtf8());
        }
    }
    throw ToldError(
        kCannotStart, why,
        QStringLiteral("表計算ソフト（帳票を作ります）を起動できませんでした。\r\n"
                       "画面の内容はそのままです。表計算ソフト（LibreOffice Calc）が"
                       "インストールされているか確かめて下さい。") +
            (config_.logFile.isEmpty() ? QString()
                                       : QStringLiteral("\r\n詳しくは次のファイルを見て下さい: ") +
                                             QDir::toNativeSeparators(config_.logFile)));
}

Office::Office(OfficeConfig config) : config_(std::move(config)), impl_(std::make_unique<Impl>()) {
    // The bridge writes to the office's pipe: an office that has just died
    // must fail the call (EPIPE, an exception we handle), not end this
    // program by the signal's default.
    std::signal(SIGPIPE, SIG_IGN);
}

Office::~Office() {
    EndIfIdle();
    if (profileLockFd_ >= 0) ::close(profileLockFd_);
}

bool Office::Connected() const { return impl_->desktop.is(); }

bool Office::TryConnect() {
    try {
        Reference<css::bridge::XUnoUrlResolver> resolver =
            css::bridge::UnoUrlResolver::create(LocalContext());
        Reference<css::uno::XInterface> remote = resolver->resolve(
            ToOU(QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext")
                     .arg(config_.pipeName)));
        impl_->remote.set(remote, UNO_QUERY_THROW);
        impl_->desktop = css::frame::Desktop::create(impl_->remote);
        return true;
    } catch (const css::uno::Exception&) {
        impl_->remote.clear();
        impl_->desktop.clear();
        return false;
    }
}

pid_t Office::ProcessGroup() const {
    if (startedPid_ > 0) return startedPid_;
    bool ok = false;
    QFile pidFile(config_.profileDir + QStringLiteral("/office.pid"));
    if (pidFile.open(QIODevice::ReadOnly)) {
        const pid_t pid = pid_t(pidFile.readAll().trimmed().toInt(&ok));
        // Only a process group of ours that is still alive, and still the office
        // on our pipe: a recorded number may have been given to another program.
        if (ok && pid > 0 && ::getpgid(pid) == pid) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (cmdline.open(QIODevice::ReadOnly) &&
                cmdline.readAll().contains("pipe,name=" + config_.pipeName.toUtf8() + ";"))
                return pid;
        }
    }
    return 0;
}

void Office::StartProcess() {
    const QString soffice = config_.soffice.isEmpty()
                                ? QStandardPaths::findExecutable(QStringLiteral("soffice"))
                                : config_.soffice;
    if (soffice.isEmpty()) CannotStart(QStringLiteral("soffice not found"));

    // Never two offices on one profile: the second would hand its work to the
    // first and exit. The lock passes to the office and lives as long as it.
    // The office's profile (recent files, the documents' backups) is the
    // user's alone; the office itself runs with the user's own umask, since
    // it also makes shared folders (its extension cache, when started as
    // root) that every other account must read.
    MakePrivateFolder(config_.profileDir);
    QString profile = config_.profileDir;
    const QByteArray lockPath = QFile::encodeName(config_.profileDir + QStringLiteral("/.lock"));
    profileLockFd_ = ::open(lockPath.constData(), O_RDWR | O_CREAT, 0600);
    if (profileLockFd_ < 0 || ::flock(profileLockFd_, LOCK_EX | LOCK_NB) != 0) {
        if (profileLockFd_ >= 0) ::close(profileLockFd_);
        profileLockFd_ = -1;
        profile = QDir::tempPath() +
                  QStringLiteral("/ondrel-office-%1-%2").arg(::getuid()).arg(::getpid());
        MakePrivateFolder(profile);
    }
    SeedSettingsFile(profile);

    QList<QByteArray> args{QFile::encodeName(soffice),
                           "-env:UserInstallation=" +
                               QUrl::fromLocalFile(profile).toString(QUrl::FullyEncoded).toUtf8(),
                           "--accept=pipe,name=" + config_.pipeName.toUtf8() + ";urp;",
                           "--invisible",
                           "--norestore",
                           "--nologo",
                           "--nodefault",
                           "--nolockcheck"};
    if (!config_.withDisplay) args << "--headless";
    std::vector<char*> argv;
    for (QByteArray& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    // The office may outlive the program: it must not hold the program's
    // standard streams (a terminal, or the pipe a caller waits on to close).
    posix_spawn_file_actions_t streams;
    posix_spawn_file_actions_init(&streams);
    posix_spawn_file_actions_addopen(&streams, 0, "/dev/null", O_RDONLY, 0);
    // Its own output goes to the log the user is told of when it fails.
    const QByteArray log =
        config_.logFile.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(config_.logFile);
    posix_spawn_file_actions_addopen(&streams, 1, log.constData(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&streams, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &streams, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&streams);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) CannotStart(QStringLiteral("cannot spawn soffice"));
    startedPid_ = pid;
    QFile pidFile(config_.profileDir + QStringLiteral("/office.pid"));
    if (pidFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        pidFile.write(QByteArray::number(pid));
}

void Office::Connect() {
    if (Connected()) {
        justStarted_ = false;
        return;
    }
    const QString shows = config_.profileDir + QStringLiteral("/office.display");
    bool answered = false;
    {
        // A stopped or hung office of ours would hold the call for good.
        OfficeWatchdog watchdog(ProcessGroup(), config_.connectDeadline);
        answered = TryConnect() && !watchdog.Fired();
    }
    if (answered) {
        justStarted_ = false;
        // A headless office (started by a run without a display) cannot show one.
        QFile f(shows);
        officeShows_ = !f.open(QIODevice::ReadOnly) || f.readAll().trimmed() != "0";
        return;
    }
    Discard();
    StartProcess();
    justStarted_ = true;
    OfficeWatchdog watchdog(startedPid_, config_.startDeadline + config_.connectDeadline);
    const auto deadline = std::chrono::steady_clock::now() + config_.startDeadline;
    while (std::chrono::steady_clock::now() < deadline && !watchdog.Fired()) {
        int status = 0;
        if (::waitpid(startedPid_, &status, WNOHANG) == startedPid_) {
            startedPid_ = 0;
            CannotStart(QStringLiteral("soffice ended at start (status %1)").arg(status));
        }
        if (TryConnect()) {
            SeedProfile();
            QFile f(shows);
            if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                f.write(config_.withDisplay ? "1" : "0");
            officeShows_ = true;
            return;
        }
        QThread::msleep(100);
    }
    Discard();
    CannotStart(QStringLiteral("soffice did not answer in time"));
}

void Office::Discard() {
    impl_->desktop.clear();
    impl_->remote.clear();
    const pid_t group = ProcessGroup();
    if (group > 0) ::killpg(group, SIGKILL);
    if (startedPid_ > 0) ::waitpid(startedPid_, nullptr, 0);
    startedPid_ = 0;
    // The office held the profile through this descriptor; a fresh one locks anew.
    if (profileLockFd_ >= 0) ::close(profileLockFd_);
    profileLockFd_ = -1;
}

void Office::EndIfIdle() noexcept {
    if (!Connected() && startedPid_ == 0) return;  // never talked to one
    if (ProcessGroup() <= 0) return;               // not ours to end
    bool showing = false;
    try {
        OfficeWatchdog watchdog(ProcessGroup(), kEndDeadline);
        if (Connected()) {
            Reference<css::container::XEnumeration> docs =
                impl_->desktop->getComponents()->createEnumeration();
            while (!showing && docs->hasMoreElements()) {
                Reference<css::frame::XModel> model(docs->nextElement(), UNO_QUERY);
                if (!model.is() || !model->getCurrentController().is()) continue;
                Reference<css::awt::XWindow2> window(
                    model->getCurrentController()->getFrame()->getContainerWindow(), UNO_QUERY);
                showing = window.is() && window->isVisible();
            }
        }
    } catch (...) {
        showing = false;  // an office that cannot say is not showing anything
    }
    if (!showing) Discard();
}

// A new profile repeats first-start work at every start until it knows the
// version it was last used with.
void Office::SeedProfile() {
    const QString marker = config_.profileDir + QStringLiteral("/.seeded");
    if (QFile::exists(marker)) return;
    try {
        Reference<css::lang::XMultiServiceFactory> provider =
            css::configuration::theDefaultProvider::get(impl_->remote);
        css::beans::NamedValue path(OUString("nodepath"),
                                    css::uno::Any(OUString("/org.openoffice.Setup/Product")));
        css::uno::Sequence<css::uno::Any> args(1);
        args.getArray()[0] <<= path;
        Reference<css::container::XNameAccess> read(
            provider->createInstanceWithArguments(
                OUString("com.sun.star.configuration.ConfigurationAccess"), args),
            UNO_QUERY_THROW);
        OUString version;
        read->getByName(OUString("ooSetupVersion")) >>= version;
        Reference<css::container::XNameReplace> write(
            provider->createInstanceWithArguments(
                OUString("com.sun.star.configuration.ConfigurationUpdateAccess"), args),
            UNO_QUERY_THROW);
        write->replaceByName(OUString("ooSetupLastVersion"), css::uno::Any(version));
        Reference<css::util::XChangesBatch>(write, UNO_QUERY_THROW)->commitChanges();
        QFile f(marker);
        if (f.open(QIODevice::WriteOnly)) f.write("1");
    } catch (const css::uno::Exception&) {
        // Only a speed-up; the reports work without it.
    }
}

std::unique_ptr<OfficeDocument> Office::Load(const QString& path, bool asTemplate) {
    return Uno(kAutomation, [&] {
        Reference<css::frame::XComponentLoader> loader(impl_->desktop, UNO_QUERY_THROW);
        css::uno::Sequence<css::beans::PropertyValue> props(3);
        auto* p = props.getArray();
        p[0] = Prop("Hidden", css::uno::Any(true));
        // As a template: no lock on the file, and the sheet can be renamed.
        p[1] = Prop(asTemplate ? "AsTemplate" : "ReadOnly", css::uno::Any(true));
        // Otherwise a text file named .xls would load as CSV.
        p[2] = Prop("FilterName", css::uno::Any(OUString("MS Excel 97")));
        auto impl = std::make_unique<OfficeDocument::Impl>();
        impl->component = loader->loadComponentFromURL(FileUrl(path), OUString("_blank"), 0, props);
        if (!impl->component.is())
            throw AppError(kAutomation, QStringLiteral("the workbook did not load"));
        if (asTemplate) {
            // A Japanese workbook: spelling, fonts and dates follow Japanese
            // rules, and the status bar reads 日本語, whatever the office's own language.
            Reference<css::beans::XPropertySet> doc(impl->component, UNO_QUERY_THROW);
            const css::lang::Locale japanese(OUString("ja"), OUString("JP"), OUString());
            for (const char* property : {"CharLocale", "CharLocaleAsian"})
                doc->setPropertyValue(OUString::createFromAscii(property), css::uno::Any(japanese));
        }
        return std::make_unique<OfficeDocument>(std::move(impl));
    });
}

std::unique_ptr<OfficeDocument> Office::LoadTemplate(const QString& path) {
    return Load(path, true);
}
std::unique_ptr<OfficeDocument> Office::LoadForReading(const QString& path) {
    return Load(path, false);
}

void Office::CloseDocumentsAt(const QString& path) {
    Uno(kAutomation, [&] {
        const OUString url = FileUrl(path);
        Reference<css::container::XEnumeration> docs =
            impl_->desktop->getComponents()->createEnumeration();
        while (docs->hasMoreElements()) {
            try {
                Reference<css::frame::XModel> model(docs->nextElement(), UNO_QUERY);
                if (model.is() && model->getURL() == url) {
                    Reference<css::util::XCloseable>(model, UNO_QUERY_THROW)->close(true);
                }
            } catch (const css::lang::DisposedException&) {
                // Another document closed meanwhile; not ours to care about.
            }
        }
    });
}

void Office::BringToFront() {
    if (!Connected() || !HasDisplay()) return;
    try {
        OfficeWatchdog watchdog(ProcessGroup(), kEndDeadline);
        Reference<css::frame::XFrame> frame = impl_->desktop->getCurrentFrame();
        if (!frame.is()) return;
        Reference<css::awt::XTopWindow> top(frame->getContainerWindow(), UNO_QUERY);
        if (top.is()) top->toFront();
    } catch (const css::uno::Exception&) {
        // Bringing a window forward is a courtesy; it never fails a report.
    }
}

namespace {

std::vector<Reference<css::frame::XFrame>> VisibleFrames(
    const Reference<css::frame::XDesktop2>& desktop) {
    std::vector<Reference<css::frame::XFrame>> shown;
    Reference<css::container::XIndexAccess> frames(desktop->getFrames(), UNO_QUERY_THROW);
    for (sal_Int32 i = 0; i < frames->getCount(); ++i) {
        Reference<css::frame::XFrame> frame(frames->getByIndex(i), UNO_QUERY);
        if (!frame.is()) continue;
        Reference<css::awt::XWindow2> window(frame->getContainerWindow(), UNO_QUERY);
        if (window.is() && window->isVisible()) shown.push_back(frame);
    }
    return shown;
}

}  // namespace

int Office::VisibleWindows() {
    return Uno(kAutomation, [&] { return int(VisibleFrames(impl_->desktop).size()); });
}

void Office::RunCommand(const QString& command) {
    Uno(kAutomation, [&] {
        const auto shown = VisibleFrames(impl_->desktop);
        if (shown.empty()) return;
        css::frame::DispatchHelper::create(impl_->remote)
            ->executeDispatch(Reference<css::frame::XDispatchProvider>(shown.front(), UNO_QUERY),
                              ToOU(command), OUString("_self"), 0, {});
    });
}

void Office::Terminate() {
    if (!Connected()) return;
    try {
        OfficeWatchdog watchdog(ProcessGroup(), kEndDeadline);
        impl_->desktop->terminate();
    } catch (const css::uno::Exception&) {
        // The bridge goes down with the office.
    }
    impl_->desktop.clear();
    impl_->remote.clear();
    if (startedPid_ > 0) {
        for (int i = 0; i < 100 && ::waitpid(startedPid_, nullptr, WNOHANG) == 0; ++i)
            QThread::msleep(50);
        ::killpg(startedPid_, SIGKILL);
        ::waitpid(startedPid_, nullptr, WNOHANG);
        startedPid_ = 0;
    }
}

OfficeDocument::OfficeDocument(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
OfficeDocument::~OfficeDocument() = default;

QString OfficeDocument::FirstSheetName() {
    return Uno(kAutomation, [&] {
        return FromOU(
            Reference<css::container::XNamed>(impl_->FirstSheet(), UNO_QUERY_THROW)->getName());
    });
}

bool OfficeDocument::RenameFirstSheet(const QString& name) {
    return Uno(kAutomation, [&] {
        Reference<css::container::XNamed> sheet(impl_->FirstSheet(), UNO_QUERY_THROW);
        try {
            sheet->setName(ToOU(name));
        } catch (const css::uno::RuntimeException&) {
            return false;
        }
        return FromOU(sheet->getName()) == name;
    });
}

QString OfficeDocument::CellText(int row, int column) {
    return Uno(kAutomation, [&] {
        Reference<css::text::XTextRange> cell(
            impl_->FirstSheet()->getCellByPosition(column - 1, row - 1), UNO_QUERY_THROW);
        return FromOU(cell->getString());
    });
}

void OfficeDocument::SetCellText(int row, int column, const QString& text) {
    // Literal text: nothing is read as a number, date or formula.
    Uno(kAutomation, [&] {
        Reference<css::text::XTextRange> cell(
            impl_->FirstSheet()->getCellByPosition(column - 1, row - 1), UNO_QUERY_THROW);
        cell->setString(ToOU(text));
    });
}

// Writes the document through one of the office's filters, over any file at
// the path; a refused write arrives as an I/O error of the office.
void OfficeDocument::Store(const QString& path, const char* filter, bool becomesLocation) {
    Uno(err::PermissionDenied, [&] {
        Reference<css::frame::XStorable> store(impl_->component, UNO_QUERY_THROW);
        css::uno::Sequence<css::beans::PropertyValue> props(2);
        auto* p = props.getArray();
        p[0] = Prop("FilterName", css::uno::Any(OUString::createFromAscii(filter)));
        p[1] = Prop("Overwrite", css::uno::Any(true));
        if (becomesLocation)
            store->storeAsURL(FileUrl(path), props);
        else
            store->storeToURL(FileUrl(path), props);
    });
    // A report holds patient data: the user's alone, whatever the umask.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString OfficeDocument::Language() {
    return Uno(kAutomation, [&] {
        Reference<css::beans::XPropertySet> doc(impl_->component, UNO_QUERY_THROW);
        css::lang::Locale locale;
        doc->getPropertyValue(OUString("CharLocaleAsian")) >>= locale;
        return FromOU(locale.Language) + u'-' + FromOU(locale.Country);
    });
}

void OfficeDocument::StoreAs(const QString& path) { Store(path, "MS Excel 97", true); }

int OfficeDocument::ExtendMergedRows(int row, int column, int rows) {
    return Uno(kAutomation, [&] {
        Reference<css::sheet::XSpreadsheet> sheet = impl_->FirstSheet();
        Reference<css::sheet::XSheetCellRange> start(
            sheet->getCellRangeByPosition(column - 1, row - 1, column - 1, row - 1),
            UNO_QUERY_THROW);
        Reference<css::sheet::XSheetCellCursor> cursor = sheet->createCursorByRange(start);
        cursor->collapseToMergedArea();
        const css::table::CellRangeAddress area =
            Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)
                ->getRangeAddress();
        const int had = area.EndRow - area.StartRow + 1;
        if (rows <= had) return had;
        Reference<css::util::XMergeable>(cursor, UNO_QUERY_THROW)->merge(false);
        Reference<css::table::XCellRange> grown = sheet->getCellRangeByPosition(
            area.StartColumn, area.StartRow, area.EndColumn, area.StartRow + rows - 1);
        Reference<css::util::XMergeable>(grown, UNO_QUERY_THROW)->merge(true);
        Reference<css::table::XColumnRowRange> columnsRows(grown, UNO_QUERY_THROW);
        Reference<css::container::XIndexAccess> all(columnsRows->getRows(), UNO_QUERY_THROW);
        Reference<css::beans::XPropertySet> first(all->getByIndex(0), UNO_QUERY_THROW);
        const css::uno::Any height = first->getPropertyValue(OUString("Height"));
        for (sal_Int32 i = had; i < rows; ++i) {
            Reference<css::beans::XPropertySet> r(all->getByIndex(i), UNO_QUERY_THROW);
            r->setPropertyValue(OUString("Height"), height);
        }
        return had;
    });
}

void OfficeDocument::ExportPdf(const QString& path) { Store(path, "calc_pdf_Export", false); }

void OfficeDocument::Print(const QString& printer) {
    Uno(kAutomation, [&] {
        Reference<css::view::XPrintable> printable(impl_->component, UNO_QUERY_THROW);
        css::uno::Sequence<css::beans::PropertyValue> device(1);
        device.getArray()[0] = Prop("Name", css::uno::Any(ToOU(printer)));
        printable->setPrinter(device);
        css::uno::Sequence<css::beans::PropertyValue> options(1);
        options.getArray()[0] = Prop("Wait", css::uno::Any(true));
        printable->print(options);
    });
}

std::pair<int, int> OfficeDocument::RepeatedRows() {
    return Uno(kAutomation, [&]() -> std::pair<int, int> {
        Reference<css::sheet::XPrintAreas> areas(impl_->FirstSheet(), UNO_QUERY_THROW);
        if (!areas->getPrintTitleRows()) return {0, 0};
        const css::table::CellRangeAddress rows = areas->getTitleRows();
        return {rows.StartRow + 1, rows.EndRow + 1};
    });
}

void OfficeDocument::Show() {
    Uno(kAutomation, [&] {
        Reference<css::frame::XModel> model(impl_->component, UNO_QUERY_THROW);
        Reference<css::frame::XFrame> frame = model->getCurrentController()->getFrame();
        Reference<css::awt::XWindow> window = frame->getContainerWindow();
        window->setVisible(true);
        Reference<css::awt::XTopWindow2> top(window, UNO_QUERY);
        if (top.is()) {
            top->setIsMaximized(true);
            top->toFront();
        }
    });
}

void OfficeDocument::Close() {
    try {
        Reference<css::util::XCloseable> c(impl_->component, UNO_QUERY);
        if (c.is()) c->close(true);
    } catch (const css::uno::Exception&) {
        // Already gone.
    }
    impl_->component.clear();
}

struct OfficeWatchdog::State {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool fired = false;
    std::thread thread;
};

OfficeWatchdog::OfficeWatchdog(pid_t processGroup, std::chrono::milliseconds deadline)
    : state_(std::make_shared<State>()) {
    if (processGroup <= 0) return;
    auto s = state_;
    s->thread = std::thread([s, processGroup, deadline] {
        std::unique_lock lock(s->m);
        if (!s->cv.wait_for(lock, deadline, [&] { return s->done; })) {
            s->fired = true;
            ::killpg(processGroup, SIGKILL);
        }
    });
}

OfficeWatchdog::~OfficeWatchdog() {
    {
        std::lock_guard lock(state_->m);
        state_->done = true;
    }
    state_->cv.notify_all();
    if (state_->thread.joinable()) state_->thread.join();
}

bool OfficeWatchdog::Fired() const {
    std::lock_guard lock(state_->m);
    return state_->fired;
}

}  // namespace ondrel
