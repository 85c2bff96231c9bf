#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace ondrel {

struct AppContext;

// One running copy per executable path; a lock left by a crashed run is
// recognised as stale and taken over.
class SingleInstance {
  public:
    explicit SingleInstance(const QString& executablePath);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    bool TryAcquire();
    QString LockFilePath() const { return path_; }

  private:
    QString path_;
    int fd_ = -1;
};

// True when the settings name an existing ordinary file (not a folder or device).
bool SystemDbExists(const AppContext& ctx);

QString JoinStartKarteNo(const QStringList& arguments);

enum class StartupOutcome {
    Continue,
    AlreadyRunning,
    NoSystemDb,
    SetUpCancelled,
    SettingsTooLarge
};

// Single instance, settings, system database check and the start chart
// number. On any outcome but Continue the caller ends the program.
// firstStart, when given, runs when the program folder holds no Ondrel.ini
// at all (an installed program's first start); false means the user
// cancelled and nothing was written.
StartupOutcome RunStartupSteps(AppContext& ctx, const QStringList& arguments,
                               SingleInstance& instance,
                               const std::function<bool()>& firstStart = {});

}  // namespace ondrel
