// The global allocator of a test or benchmark program, replaced by one that can
// count what is held and fail on request. A program gets it by linking heap.cpp;
// nothing else changes for it. Single-threaded use: what other threads allocate
// meanwhile is counted too.
#pragma once

#include <cstddef>

namespace test::heap {

// Counts from nothing the bytes held through operator new from now on, until
// stop_count, which gives the most that were held at once. Between the two, a
// block allocated before is not taken off when it is freed.
void start_count();
std::size_t stop_count();

// While it lives, every allocation of more than limit bytes fails with
// std::bad_alloc, as on a machine short of memory. The sanitizers end the process
// instead of failing an allocation, so a real shortage can't show this.
class Short_of_memory {
public:
    explicit Short_of_memory(std::size_t limit);
    ~Short_of_memory();
    Short_of_memory(const Short_of_memory&) = delete;
    Short_of_memory& operator=(const Short_of_memory&) = delete;
};

}  // namespace test::heap
