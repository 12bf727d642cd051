// Windows threads with a bounded join (WaitForSingleObject) and, as the last resort,
// TerminateThread. Start fails when CreateThread does.
#include <windows.h>

#include "platform/thread.h"

namespace platform {
namespace {

DWORD WINAPI ThreadMain(LPVOID arg) {
    // The thread's own reference to the body.
    std::unique_ptr<std::shared_ptr<std::function<void()>>> body(
        static_cast<std::shared_ptr<std::function<void()>>*>(arg));
    (**body)();
    return 0;
}

HANDLE AsHandle(std::uintptr_t h) {
    return reinterpret_cast<HANDLE>(h);
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
    DWORD id = 0;
    HANDLE h = ::CreateThread(nullptr, 0, &ThreadMain, reference, 0, &id);
    if (h == nullptr) {
        delete reference;
        return false;
    }
    handle_ = reinterpret_cast<std::uintptr_t>(h);
    id_ = static_cast<std::uint32_t>(id);
    return true;
}

bool NativeThread::Join(std::uint32_t timeoutMs) {
    if (handle_ == 0) {
        return true;
    }
    if (::WaitForSingleObject(AsHandle(handle_), timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    ::CloseHandle(AsHandle(handle_));
    handle_ = 0;
    return true;
}

void NativeThread::Terminate() {
    if (handle_ == 0) {
        return;
    }
    ::TerminateThread(AsHandle(handle_), 1);
    // Wait for the kill to take effect before the handle goes.
    ::WaitForSingleObject(AsHandle(handle_), 1000);
    ::CloseHandle(AsHandle(handle_));
    handle_ = 0;
}

struct WakeSignal::State {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

WakeSignal::WakeSignal() : state_(std::make_unique<State>()) {}

WakeSignal::~WakeSignal() {
    if (state_->event != nullptr) {
        ::CloseHandle(state_->event);
    }
}

void WakeSignal::Raise() {
    ::SetEvent(state_->event);
}

void WakeSignal::Clear() {
    ::ResetEvent(state_->event);
}

bool WakeSignal::Wait(std::uint32_t ms) {
    if (state_->event == nullptr) {
        // No event to wait on: still keep the pause.
        ::Sleep(ms);
        return false;
    }
    return ::WaitForSingleObject(state_->event, ms) == WAIT_OBJECT_0;
}

void SleepMilliseconds(std::uint32_t ms) {
    ::Sleep(ms);
}

}  // namespace platform
