#pragma once

#include "core/prompter.h"

class QWidget;

namespace ondrel {

class MessageBoxPrompter final : public Prompter {
  public:
    bool Question(const QString& title, const QString& text) override;
    void Warning(const QString& title, const QString& text) override;
    void Information(const QString& title, const QString& text) override;
    void Beep() override;
    bool IsShowing() const override { return open_ > 0; }

  private:
    int open_ = 0;
};

}  // namespace ondrel
