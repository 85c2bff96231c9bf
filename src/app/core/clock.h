#pragma once

#include <QDate>

namespace ondrel {

// "Today" for new memos, the age and the print range; tests set their own.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual QDate Today() const = 0;
};

class SystemClock final : public Clock {
  public:
    QDate Today() const override { return QDate::currentDate(); }
};

class FixedClock final : public Clock {
  public:
    explicit FixedClock(QDate today) : today_(today) {}
    QDate Today() const override { return today_; }
    void Set(QDate today) { today_ = today; }

  private:
    QDate today_;
};

}  // namespace ondrel
