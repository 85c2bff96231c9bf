#pragma once

#include <cstdio>

#include "core/prompter.h"

namespace ondrel {

// For the command-line companions and the benchmarks: every question is
// answered Yes, every message goes to standard error.
class ConsolePrompter final : public Prompter {
  public:
    explicit ConsolePrompter(const char* program = "ondrel") : program_(program) {}
    bool Question(const QString&, const QString&) override { return true; }
    void Warning(const QString&, const QString& text) override { Print(text); }
    void Information(const QString&, const QString& text) override { Print(text); }
    void Beep() override {}
    bool IsShowing() const override { return false; }
    // True once a message has been shown.
    bool told = false;

  private:
    void Print(QString text) {
        told = true;
        text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        std::fprintf(stderr, "%s: %s\n", program_, text.toLocal8Bit().constData());
    }
    const char* program_;
};

}  // namespace ondrel
