#pragma once

#include <chrono>
#include <functional>

namespace ondrel {

// What the windows do while a call that waits on another machine (the
// database server) takes long. `pump` is called every
// few milliseconds once the call has taken longer than a blink, with the
// time waited: it paints the windows (never user input) and shows the wait
// cursor past a second. `done` follows a pumped wait.
struct BlockingCallHooks {
    std::function<void(std::chrono::milliseconds waited)> pump;
    std::function<void()> done;
};

// Installed by a program with windows; without them (the tools) a call runs
// where it is made.
void SetBlockingCallHooks(BlockingCallHooks hooks);

// Whether such a call is under way. Whatever the windows do meanwhile (a
// timer, a window closed) must not start another: two calls at once on one
// connection would mix their answers.
bool BlockingCallUnderWay();

// Runs a call that blocks (libpq's). With hooks, on a thread of its own
// while this one keeps the windows painted; a call made while one is under
// way runs here.
void RunBlockingCall(const std::function<void()>& call);

}  // namespace ondrel
