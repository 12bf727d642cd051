// POSIX threads with a bounded join. Termination is a cancellation request followed by a
// detach: the thread is left to die at its next cancellation point.
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread.h"

namespace platform {
namespace {

void* ThreadMain(void* arg) {
    // The thread's own reference to the body, released even when it is cancelled.
    std::unique_ptr<std::shared_ptr<std::function<void()>>> body(
        static_cast<std::shared_ptr<std::function<void()>>*>(arg));
    (**body)();
    return nullptr;
}

}  // namespace

NativeThread::~NativeThread() {
    if (handle_ != 0 && !Join(0)) {
        Terminate();
    }
}

bool NativeThread::Start(std::function<void()> body) {
    if (handle_ != 0) {
        return false;
    }
    body_ = std::make_shared<std::function<void()>>(std::move(body));
    auto* reference = new std::shared_ptr<std::function<void()>>(body_);
    pthread_t t{};
    if (pthread_create(&t, nullptr, &ThreadMain, reference) != 0) {
        delete reference;
        return false;
    }
    handle_ = static_cast<std::uintptr_t>(t);
    id_ = static_cast<std::uint32_t>(static_cast<std::uintptr_t>(t));
    return true;
}

bool NativeThread::Join(std::uint32_t timeoutMs) {
    if (handle_ == 0) {
        return true;
    }
    // Measured on the monotonic clock, so a change of the wall clock cannot stretch it.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    int rc =
        pthread_clockjoin_np(static_cast<pthread_t>(handle_), nullptr, CLOCK_MONOTONIC, &deadline);
    if (rc != 0) {
        return false;
    }
    handle_ = 0;
    return true;
}

void NativeThread::Terminate() {
    if (handle_ == 0) {
        return;
    }
    pthread_t t = static_cast<pthread_t>(handle_);
    pthread_cancel(t);
    pthread_detach(t);
    handle_ = 0;
}

struct WakeSignal::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool raised = false;
};

WakeSignal::WakeSignal() : state_(std::make_unique<State>()) {}

WakeSignal::~WakeSignal() = default;

void WakeSignal::Raise() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->raised = true;
    }
    state_->changed.notify_all();
}

void WakeSignal::Clear() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->raised = false;
}

bool WakeSignal::Wait(std::uint32_t ms) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                    [this] { return state_->raised; });
}

void SleepMilliseconds(std::uint32_t ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
