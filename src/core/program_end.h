#pragma once

#include <functional>
#include <vector>

namespace ondrel {

// How the program ends at once (error report, restart message, refused
// start). Tests install one that throws, so the end can be observed.
class ProgramEnd {
  public:
    virtual ~ProgramEnd() = default;
    [[noreturn]] virtual void End(int status) = 0;
    // Work that must happen however the program ends (an office of ours
    // left with nothing to show is ended); runs before End goes on.
    void AtEnd(std::function<void()> work) { atEnd_.push_back(std::move(work)); }

  protected:
    void RunAtEnd() noexcept {
        auto work = std::move(atEnd_);
        atEnd_.clear();
        for (auto& w : work) {
            try {
                w();
            } catch (...) {
                // The program ends all the same.
            }
        }
    }

  private:
    std::vector<std::function<void()>> atEnd_;
};

// Ends the process on the spot: no window closes through its handlers, and
// nothing (settings, placement) is written on the way out.
class ProcessExit final : public ProgramEnd {
  public:
    [[noreturn]] void End(int status) override;
};

}  // namespace ondrel
