// The replaced allocation functions behind heap_meter::Meter. Each block carries its size in
// a header, so a release is counted without asking the allocator.
#include "tests/reports/heap_meter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kHeader = alignof(std::max_align_t) > sizeof(std::size_t)
                                    ? alignof(std::max_align_t)
                                    : sizeof(std::size_t);

std::atomic<bool> counting{false};
std::atomic<std::ptrdiff_t> held{0};
std::atomic<std::ptrdiff_t> peak{0};

void* Allocate(std::size_t size) {
    void* block = std::malloc(size + kHeader);
    if (block == nullptr) {
        return nullptr;
    }
    // Blocks made before the count began are marked 0, so their release counts nothing.
    const bool counted = counting.load(std::memory_order_relaxed);
    *static_cast<std::size_t*>(block) = counted ? size : 0;
    if (counted) {
        const std::ptrdiff_t now = held += static_cast<std::ptrdiff_t>(size);
        std::ptrdiff_t high = peak.load();
        while (now > high && !peak.compare_exchange_weak(high, now)) {
        }
    }
    return static_cast<char*>(block) + kHeader;
}

void* AllocateOrThrow(std::size_t size) {
    void* p = Allocate(size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void Release(void* p) {
    if (p == nullptr) {
        return;
    }
    void* block = static_cast<char*>(p) - kHeader;
    held -= static_cast<std::ptrdiff_t>(*static_cast<std::size_t*>(block));
    std::free(block);
}

}  // namespace

namespace heap_meter {

Meter::Meter() {
    held = 0;
    peak = 0;
    counting = true;
}

Meter::~Meter() {
    counting = false;
}

std::size_t Meter::Peak() const {
    return static_cast<std::size_t>(peak.load());
}

}  // namespace heap_meter

void* operator new(std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
