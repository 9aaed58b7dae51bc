// Allocations that fail on purpose: while a FailingAllocation lives, the
// Nth allocation the process makes through operator new throws
// std::bad_alloc, once; every other one succeeds as usual.
#pragma once

#include <cstdint>

namespace testsupport {

class FailingAllocation {
public:
    // Fails allocation number `n`, counted from 1, from now on.
    explicit FailingAllocation(std::uint64_t n);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

    // Whether the planned allocation was made, and failed.
    [[nodiscard]] bool failed() const;
};

}  // namespace testsupport
