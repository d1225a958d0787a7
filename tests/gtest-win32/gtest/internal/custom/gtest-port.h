// GoogleTest's port header includes this file first. The win32-threads runtime of GCC 12, which
// the Windows programs are built with so that the product imports nothing XP x64 lacks, has no
// std::mutex or std::condition_variable, on which GoogleTest builds its Notification. Only
// GoogleTest's own thread helpers use Notification; this one needs neither.
#pragma once

#if defined(__MINGW32__) && !defined(_GLIBCXX_HAS_GTHREADS)

#include <atomic>

extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
            Sleep(1);
        }
    }

private:
    std::atomic<bool> notified_{false};
};

} // namespace internal
} // namespace testing

#endif
