#include "heap/heap.h"

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

struct State {
    std::size_t fail_above = SIZE_MAX;
    bool counting = false;  // off, allocation costs no more than malloc's
    std::size_t held = 0;   // as malloc counts them, so that a free needs no size
    std::size_t peak = 0;
};

State _state;

void* allocate(std::size_t n) {
    if (n > _state.fail_above) throw std::bad_alloc();
    void* p = std::malloc(std::max<std::size_t>(n, 1));
    if (!p) throw std::bad_alloc();
    if (_state.counting) {
        _state.held += malloc_usable_size(p);
        _state.peak = std::max(_state.peak, _state.held);
    }
    return p;
}

void release(void* p) noexcept {
    if (p && _state.counting) _state.held -= std::min(_state.held, malloc_usable_size(p));
    std::free(p);
}

}  // namespace

namespace test::heap {

void start_count() {
    _state.held = _state.peak = 0;
    _state.counting = true;
}

std::size_t stop_count() {
    _state.counting = false;
    return _state.peak;
}

Short_of_memory::Short_of_memory(std::size_t limit) { _state.fail_above = limit; }

Short_of_memory::~Short_of_memory() { _state.fail_above = SIZE_MAX; }

}  // namespace test::heap

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return allocate(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
