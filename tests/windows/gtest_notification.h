// GoogleTest's Notification, for toolchains whose C++ library has no
// std::mutex (mingw-w64 with the win32 thread model, GCC before 13).
// GoogleTest uses it only to test its own threading; our tests run one
// thread, so a flag that is waited for by spinning is all it needs.
#ifndef VELMORA_GTEST_NOTIFICATION_H
#define VELMORA_GTEST_NOTIFICATION_H

#include <atomic>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : notified_(false) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification()
    {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing

#endif
