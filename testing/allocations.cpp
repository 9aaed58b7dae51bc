// Replaces the program's operator new and delete, so that a test can make
// one allocation fail. Counting is off unless a FailingAllocation lives.
#include "testing/allocations.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> armed{false};
std::atomic<std::uint64_t> counted{0};
std::atomic<std::uint64_t> failAt{0};
std::atomic<bool> failedOnce{false};

void* allocate(std::size_t size, std::size_t alignment) {
    if (armed.load() && ++counted == failAt.load()) {
        failedOnce.store(true);
        throw std::bad_alloc();
    }
    if (size == 0) size = 1;
    void* memory = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        memory = std::malloc(size);
    } else if (::posix_memalign(&memory, alignment, size) != 0) {
        memory = nullptr;
    }
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

}  // namespace

namespace testsupport {

FailingAllocation::FailingAllocation(std::uint64_t n) {
    counted.store(0);
    failAt.store(n);
    failedOnce.store(false);
    armed.store(true);
}

FailingAllocation::~FailingAllocation() { armed.store(false); }

bool FailingAllocation::failed() const { return failedOnce.load(); }

}  // namespace testsupport

void* operator new(std::size_t size) { return allocate(size, 0); }
void* operator new[](std::size_t size) { return allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
