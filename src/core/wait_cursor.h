#pragma once

namespace ondrel {

// The hourglass during database writes, without the core linking Widgets.
class WaitCursor {
  public:
    virtual ~WaitCursor() = default;
    virtual void Begin() = 0;
    virtual void End() = 0;
};

class NoWaitCursor final : public WaitCursor {
  public:
    void Begin() override {}
    void End() override {}
};

class WaitCursorGuard {
  public:
    explicit WaitCursorGuard(WaitCursor& c) : c_(c) { c_.Begin(); }
    ~WaitCursorGuard() { c_.End(); }
    WaitCursorGuard(const WaitCursorGuard&) = delete;
    WaitCursorGuard& operator=(const WaitCursorGuard&) = delete;

  private:
    WaitCursor& c_;
};

}  // namespace ondrel
