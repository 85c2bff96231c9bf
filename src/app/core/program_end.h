#pragma once

namespace ondrel {

// How the program ends at once (error report, restart message, refused
// start). Tests install one that throws, so the end can be observed.
class ProgramEnd {
  public:
    virtual ~ProgramEnd() = default;
    [[noreturn]] virtual void End(int status) = 0;
};

// Ends the process on the spot: no window closes through its handlers, and
// nothing (settings, placement) is written on the way out.
class ProcessExit final : public ProgramEnd {
  public:
    [[noreturn]] void End(int status) override;
};

}  // namespace ondrel
