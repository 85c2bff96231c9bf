#pragma once

#include <QString>

namespace ondrel {

// Every message box of the program goes through this, so tests can script
// the answers and read the texts.
class Prompter {
  public:
    virtual ~Prompter() = default;
    // Yes/No, information icon, No the default; true for Yes.
    virtual bool Question(const QString& title, const QString& text) = 0;
    // Exclamation icon, OK.
    virtual void Warning(const QString& title, const QString& text) = 0;
    // Information icon, OK.
    virtual void Information(const QString& title, const QString& text) = 0;
    virtual void Beep() = 0;
    // True while a box of ours is open; the link poll waits for it to close.
    virtual bool IsShowing() const = 0;
};

}  // namespace ondrel
