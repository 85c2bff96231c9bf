#pragma once

#include <QDate>
#include <QThread>
#include <functional>

namespace ondrel {

// "Today" for new memos, the age and the print range; tests set their own.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual QDate Today() const = 0;
    // Waits a short moment (the link file's second read).
    virtual void Pause(int ms) const = 0;
};

class SystemClock final : public Clock {
  public:
    QDate Today() const override { return QDate::currentDate(); }
    void Pause(int ms) const override { QThread::msleep(ulong(ms)); }
};

class FixedClock final : public Clock {
  public:
    explicit FixedClock(QDate today) : today_(today) {}
    QDate Today() const override { return today_; }
    // Tests decide what happens meanwhile (a file rewritten).
    void Pause(int) const override {
        if (onPause) onPause();
    }
    void Set(QDate today) { today_ = today; }
    std::function<void()> onPause;

  private:
    QDate today_;
};

}  // namespace ondrel
