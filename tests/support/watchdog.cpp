// A test that hangs says so, and where, well before ctest's timeout would
// kill it with nothing said after "[ RUN ]": past TEST_WATCHDOG_SECONDS
// (set by the build for each test program) the running test's name and the
// stack of the thread running it go to standard error, and the process
// aborts, taking the children it started with it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <execinfo.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Watch {
    std::mutex mutex;
    std::condition_variable changed;
    bool armed = false;
    Clock::time_point deadline;
    std::string test;
    pthread_t runner{};
    bool started = false;
};

Watch& watch = *new Watch;  // never destroyed: the thread may outlive main's return

void printStackAndAbort(int) {
    void* frames[64];
    int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
    std::abort();
}

void watchOver() {
    std::unique_lock<std::mutex> lock(watch.mutex);
    for (;;) {
        if (!watch.armed) {
            watch.changed.wait(lock);
            continue;
        }
        if (watch.changed.wait_until(lock, watch.deadline) != std::cv_status::timeout || !watch.armed ||
            Clock::now() < watch.deadline)
            continue;
        std::fprintf(stderr,
                     "\n[  HUNG    ] %s has not ended within its %s s; it was here "
                     "(addr2line -Cfe on an offset names the line):\n",
                     watch.test.c_str(), std::getenv("TEST_WATCHDOG_SECONDS"));
        std::fflush(stderr);
        pthread_kill(watch.runner, SIGUSR2);
        lock.unlock();
        // A thread that cannot take the signal (stuck in the kernel) still ends.
        std::this_thread::sleep_for(std::chrono::seconds(5));
        std::_Exit(134);
    }
}

class Watchdog : public testing::EmptyTestEventListener {
public:
    explicit Watchdog(int limitSeconds) : seconds(limitSeconds) {}

private:
    void OnTestStart(const testing::TestInfo& info) override {
        std::lock_guard<std::mutex> lock(watch.mutex);
        if (!watch.started) {
            signal(SIGUSR2, printStackAndAbort);
            std::thread(watchOver).detach();
            watch.started = true;
        }
        watch.test = std::string(info.test_suite_name()) + "." + info.name();
        watch.runner = pthread_self();
        watch.deadline = Clock::now() + std::chrono::seconds(seconds);
        watch.armed = true;
        watch.changed.notify_all();
    }
    void OnTestEnd(const testing::TestInfo&) override {
        std::lock_guard<std::mutex> lock(watch.mutex);
        watch.armed = false;
        watch.changed.notify_all();
    }
    int seconds;
};

const bool installed = [] {
    const char* text = std::getenv("TEST_WATCHDOG_SECONDS");
    int seconds = text ? std::atoi(text) : 0;
    if (seconds > 0) testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(seconds));
    return true;
}();

}  // namespace
