#pragma once

#include <sys/resource.h>

#include <QByteArray>
#include <QDate>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>
#include <deque>
#include <functional>
#include <memory>

#include "core/app_context.h"

namespace ondrel::test {

struct Shown {
    enum Kind { Question, Warning, Information } kind;
    QString title;
    QString text;
};

// Answers questions from a script (No when the script is empty) and records
// every box.
class ScriptedPrompter final : public Prompter {
  public:
    bool Question(const QString& title, const QString& text) override;
    void Warning(const QString& title, const QString& text) override;
    void Information(const QString& title, const QString& text) override;
    void Beep() override { ++beeps; }
    bool IsShowing() const override { return showing; }

    void Answer(std::initializer_list<bool> answers) { answers_.insert(answers_.end(), answers); }
    QStringList Texts() const;

    std::vector<Shown> shown;
    int beeps = 0;
    bool showing = false;
    // Runs inside a box, as the user's time with it would.
    std::function<void()> whileShowing;

  private:
    void Record(Shown::Kind kind, const QString& title, const QString& text);
    std::deque<bool> answers_;
};

struct ProgramEnded {
    int status;
};

class ThrowingEnd final : public ProgramEnd {
  public:
    [[noreturn]] void End(int status) override {
        RunAtEnd();
        throw ProgramEnded{status};
    }
};

class CountingWaitCursor final : public WaitCursor {
  public:
    void Begin() override { ++depth, ++begun; }
    void End() override { --depth; }
    int depth = 0;
    int begun = 0;
};

// A program folder in a temporary directory, with the link folder beside it
// and a context that uses the scripted seams.
class TestProgram {
  public:
    TestProgram();
    QString Folder() const { return root_.path() + QStringLiteral("/prog"); }
    QString Root() const { return root_.path(); }
    QString IniPath() const { return Folder() + QStringLiteral("/Ondrel.ini"); }
    void WriteIni(const QByteArray& cp932Bytes) const;
    // Lines of UTF-8 text written as code page 932 with CR LF.
    void WriteIniText(const QStringList& lines) const;

    ScriptedPrompter prompter;
    FixedClock clock{QDate(2026, 12, 10)};
    CountingWaitCursor waitCursor;
    ThrowingEnd end;
    std::unique_ptr<AppContext> ctx;

  private:
    QTemporaryDir root_;
};

// No file of this process may grow past `bytes` while it lives: a write past
// it fails as on a full disk (SIGXFSZ ignored).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        signal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, signal_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit old_{};
    void (*signal_)(int) = nullptr;
};

QByteArray ReadBytes(const QString& path);
void WriteBytes(const QString& path, const QByteArray& bytes);
QByteArray ToCp932(const QString& text);
// Every path under root (relative, sorted, hidden ones too): "nothing was
// written" compares two of these.
QStringList TreeListing(const QString& root);

}  // namespace ondrel::test
