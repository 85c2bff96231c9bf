#include "core/blocking_call.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace ondrel {

namespace {

using namespace std::chrono_literals;

// Shorter waits are not pumped: a call that answers within a frame or so
// costs one hand-over to the thread and back, no more.
constexpr auto kBeforePump = 100ms;
constexpr auto kPumpEvery = 15ms;

BlockingCallHooks& Hooks() {
    static BlockingCallHooks hooks;
    return hooks;
}

std::atomic<bool> underWay{false};

// Calls come in runs (a command's statements one after another): each side
// looks for the other's word for a moment before it sleeps, which saves the
// two wake-ups a hand-over otherwise costs.
constexpr auto kLookBeforeSleep = std::chrono::microseconds(150);

template <typename Ready>
bool LookFor(Ready ready) {
    const auto until = std::chrono::steady_clock::now() + kLookBeforeSleep;
    do {
        if (ready()) return true;
        std::this_thread::yield();
    } while (std::chrono::steady_clock::now() < until);
    return ready();
}

// One thread for every call, made once and never destroyed: it may still
// wait on a call at the program's end.
struct CallThread {
    std::mutex m;
    std::condition_variable work, finished;
    std::atomic<const std::function<void()>*> call{nullptr};
    std::atomic<bool> done{false};
    std::exception_ptr error;

    static CallThread& Get() {
        static CallThread* const t = [] {
            auto* thread = new CallThread;
            std::thread([thread] { thread->Serve(); }).detach();
            return thread;
        }();
        return *t;
    }

    void Serve() {
        for (;;) {
            if (!LookFor([&] { return call.load() != nullptr; })) {
                std::unique_lock lock(m);
                work.wait(lock, [&] { return call.load() != nullptr; });
            }
            const std::function<void()>* next = call.exchange(nullptr);
            std::exception_ptr failed;
            try {
                (*next)();
            } catch (...) {
                failed = std::current_exception();
            }
            {
                std::lock_guard lock(m);
                error = failed;
                done = true;
            }
            finished.notify_all();
        }
    }
};

}  // namespace

void SetBlockingCallHooks(BlockingCallHooks hooks) { Hooks() = std::move(hooks); }

bool BlockingCallUnderWay() { return underWay; }

void RunBlockingCall(const std::function<void()>& call) {
    const BlockingCallHooks& hooks = Hooks();
    if (!hooks.pump || underWay.exchange(true)) {
        call();
        return;
    }
    struct Clear {
        ~Clear() { underWay = false; }
    } clear;
    CallThread& t = CallThread::Get();
    {
        std::lock_guard lock(t.m);
        t.error = nullptr;
        t.done = false;
        t.call = &call;
    }
    t.work.notify_one();
    const auto finished = [&] { return t.done.load(); };
    if (LookFor(finished)) {
        std::lock_guard lock(t.m);
        if (t.error) std::rethrow_exception(std::exchange(t.error, nullptr));
        return;
    }
    std::unique_lock lock(t.m);
    if (!t.finished.wait_for(lock, kBeforePump, finished)) {
        // The call still uses the caller's values: whatever the windows do
        // meanwhile, this waits for it before going anywhere.
        std::exception_ptr pumpFailed;
        const auto start = std::chrono::steady_clock::now();
        do {
            lock.unlock();
            try {
                if (!pumpFailed)
                    hooks.pump(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start + kBeforePump));
            } catch (...) {
                pumpFailed = std::current_exception();
            }
            lock.lock();
        } while (!t.finished.wait_for(lock, kPumpEvery, finished));
        lock.unlock();
        if (hooks.done) hooks.done();
        lock.lock();
        if (pumpFailed) std::rethrow_exception(pumpFailed);
    }
    if (t.error) std::rethrow_exception(std::exchange(t.error, nullptr));
}

}  // namespace ondrel
