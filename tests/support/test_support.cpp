#include "test_support.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringEncoder>

namespace ondrel::test {

void ScriptedPrompter::Record(Shown::Kind kind, const QString& title, const QString& text) {
    shown.push_back({kind, title, text});
    if (whileShowing) {
        showing = true;
        whileShowing();
        showing = false;
    }
}

bool ScriptedPrompter::Question(const QString& title, const QString& text) {
    Record(Shown::Question, title, text);
    if (answers_.empty()) return false;
    bool a = answers_.front();
    answers_.pop_front();
    return a;
}

void ScriptedPrompter::Warning(const QString& title, const QString& text) {
    Record(Shown::Warning, title, text);
}

void ScriptedPrompter::Information(const QString& title, const QString& text) {
    Record(Shown::Information, title, text);
}

QStringList ScriptedPrompter::Texts() const {
    QStringList out;
    for (const auto& s : shown) out << s.text;
    return out;
}

TestProgram::TestProgram() {
    QDir(root_.path()).mkpath(QStringLiteral("prog"));
    QDir(root_.path()).mkpath(QStringLiteral("1-99リンクバーZEV"));
    ctx = std::make_unique<AppContext>(Folder(), prompter, clock, waitCursor, end);
}

void TestProgram::WriteIni(const QByteArray& bytes) const { WriteBytes(IniPath(), bytes); }

void TestProgram::WriteIniText(const QStringList& lines) const {
    WriteIni(ToCp932(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

QStringList TreeListing(const QString& root) {
    QStringList all;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) all << it.next().mid(root.size());
    all.sort();
    return all;
}

QByteArray ToCp932(const QString& text) {
    QStringEncoder enc("windows-31j");
    return enc.encode(text);
}

}  // namespace ondrel::test
