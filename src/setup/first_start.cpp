#include "setup/first_start.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringEncoder>
#include <functional>
#include <vector>

#include "admin/db_tool.h"
#include "core/db_target.h"
#include "core/link_file.h"
#include "core/program_folder.h"

namespace ondrel {

namespace {

const QString kTemplateName = QStringLiteral("指導指示管理.xls");

// The keys the clinic's set-up has always written, with their first values.
QByteArray SettingsText(const SetupChoice& choice, const QString& database, bool* encodable) {
    const QString text = QStringLiteral(
                             "[System]\r\nTitle=%1\r\nSystemDB=%2\r\nMessageFlg1=0\r\n"
                             "MessageFlg2=0\r\nMessageFlg3=0\r\nKarteNoInput=1\r\nDefaultTab=0\r\n"
                             "PrintFlg=0\r\nWindowTop=0\r\n")
                             .arg(choice.title.trimmed(), database);
    QStringEncoder cp932("Shift_JIS");
    QByteArray bytes = cp932.encode(text);
    *encodable = !cp932.hasError();
    return bytes;
}

// Undoes, newest first, what a failed set-up made.
class Undo {
  public:
    void Add(std::function<void()> step) { steps_.push_back(std::move(step)); }
    void Keep() { steps_.clear(); }
    ~Undo() {
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) (*it)();
    }

  private:
    std::vector<std::function<void()>> steps_;
};

bool MakeFolder(const QString& path, Undo& undo) {
    if (QFileInfo(path).isDir()) return true;
    // Only the topmost folder made here is removed again.
    QString top = path;
    while (!QFileInfo::exists(QFileInfo(top).absolutePath())) top = QFileInfo(top).absolutePath();
    if (!QDir().mkpath(path)) return false;
    undo.Add([top] { QDir(top).removeRecursively(); });
    return true;
}

}  // namespace

QString DefaultNewDatabase(const QString& programFolder) {
    return programFolder + QStringLiteral("/ondrel.db");
}

QString DemoDatabase(const QString& programFolder) {
    return programFolder + QStringLiteral("/ondrel-demo.db");
}

QString SetupChoiceProblem(const SetupChoice& choice) {
    if (choice.title.trimmed().isEmpty()) return QStringLiteral("タイトルを入力して下さい。");
    bool encodable = true;
    SettingsText(choice, choice.database, &encodable);
    if (!encodable) {
        return QStringLiteral(
            "タイトルかデータベースの指定に、設定ファイルに書けない文字が含まれています。");
    }
    const QString db = choice.database.trimmed();
    switch (choice.kind) {
        case SetupChoice::Kind::Demo:
            return {};
        case SetupChoice::Kind::Server: {
            const DbTarget target = DbTarget::Of(db);
            if (!target.IsServer()) {
                return QStringLiteral(
                    "データベースサーバーは postgresql:// で始まる形で指定して下さい。");
            }
            return target.Server() ? QString() : target.Problem();
        }
        case SetupChoice::Kind::NewFile:
            if (db.isEmpty()) return QStringLiteral("データベースファイルの場所を指定して下さい。");
            if (QFileInfo::exists(db)) {
                return QStringLiteral(
                           "そのファイルは既にあります。既存のデータベースを使う場合は"
                           "「既存のデータベースファイル」を選んで下さい。\r\n") +
                       db;
            }
            return {};
        case SetupChoice::Kind::ExistingFile:
            if (db.isEmpty()) return QStringLiteral("データベースファイルを指定して下さい。");
            return tool::SystemDatabaseFileProblem(db);
    }
    return {};
}

QString ApplyFirstSetup(const QString& programFolder, const QString& templateFolder,
                        const SetupChoice& choice, const QDate& today) {
    if (const QString problem = SetupChoiceProblem(choice); !problem.isEmpty()) return problem;
    const QString shipped = templateFolder + u'/' + kTemplateName;
    if (!QFileInfo(shipped).isFile())
        return QStringLiteral("帳票のひな形が見つかりません: ") + shipped;

    Undo undo;
    const QString cannotMake = QStringLiteral("フォルダを作成できません: ");
    if (!MakeFolder(programFolder, undo)) return cannotMake + programFolder;
    for (const QString& folder :
         {programFolder + QStringLiteral("/Template"), programFolder + QStringLiteral("/帳票"),
          LinkFolderFor(programFolder)}) {
        if (!MakeFolder(folder, undo)) return cannotMake + folder;
    }
    const QString copy = programFolder + QStringLiteral("/Template/") + kTemplateName;
    if (!QFileInfo::exists(copy)) {
        if (!QFile::copy(shipped, copy))
            return QStringLiteral("帳票のひな形をコピーできません: ") + copy;
        // The shipped file is read-only; the clinic's copy is theirs to edit.
        QFile(copy).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ReadGroup | QFileDevice::ReadOther);
        undo.Add([copy] { QFile::remove(copy); });
    }

    QString database = choice.database.trimmed();
    if (choice.kind == SetupChoice::Kind::Demo) {
        database = DemoDatabase(programFolder);
        // A demonstration made by an earlier attempt is used again.
        if (!QFileInfo::exists(database)) {
            if (const QString error = tool::MakeDemoDatabase(database, today); !error.isEmpty())
                return error;
            undo.Add([database] { QFile::remove(database); });
        }
    } else if (choice.kind == SetupChoice::Kind::NewFile) {
        database = QFileInfo(database).absoluteFilePath();
        if (!MakeFolder(QFileInfo(database).absolutePath(), undo))
            return cannotMake + QFileInfo(database).absolutePath();
        const QString error = tool::InitDatabase(database);
        if (!error.isEmpty()) {
            QFile::remove(database);
            return error;
        }
        undo.Add([database] { QFile::remove(database); });
    } else if (choice.kind == SetupChoice::Kind::ExistingFile) {
        database = QFileInfo(database).absoluteFilePath();
    }

    bool encodable = true;
    const QByteArray settings = SettingsText(choice, database, &encodable);
    QSaveFile ini(programFolder + QStringLiteral("/Ondrel.ini"));
    if (!encodable || !ini.open(QIODevice::WriteOnly) || ini.write(settings) != settings.size() ||
        !ini.commit()) {
        return QStringLiteral("設定ファイルを書き込めません: ") + ini.fileName();
    }
    undo.Keep();
    return {};
}

}  // namespace ondrel
