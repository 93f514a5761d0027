// A map that needs more memory than there is: the load is refused naming the
// map, like any map that can't be played. The machine's memory is made short
// by this program's own allocator, which fails every allocation above a size
// while a test asks it to; the sanitizers would end the process instead of
// failing the allocation of a real shortage.
#include "game/scene.h"

#include "common/scene_map.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

namespace {

std::atomic<std::size_t> _fail_above{SIZE_MAX};

void* allocate(std::size_t n) {
    if (n > _fail_above.load(std::memory_order_relaxed)) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}

// While it lives, every allocation of more than limit bytes fails.
class Short_of_memory {
public:
    explicit Short_of_memory(std::size_t limit) { _fail_above = limit; }
    ~Short_of_memory() { _fail_above = SIZE_MAX; }
    Short_of_memory(const Short_of_memory&) = delete;
    Short_of_memory& operator=(const Short_of_memory&) = delete;
};

}  // namespace

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
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace test;

TEST_F(Scene_test, RunningOutOfMemoryWhileAMapLoadsIsARefusalNamingIt) {
    // 100 x 100 tiles: the values of its tile layer alone take some 160 KiB.
    Map map;
    map.width = map.height = "100";
    std::string data = "[0";
    for (int i = 1; i < 100 * 100; ++i) data += ",0";
    map.layers = "[" + tilelayer(data + "]") + "," + objectgroup({_player, _room}) + "]";
    const std::filesystem::path file = write(map);
    {
        Short_of_memory short_of(64 << 10);
        EXPECT_EQ(thrown<std::runtime_error>(file), named("not enough memory to load it"));
    }
    // With the memory it needs, the same map plays.
    scene = std::make_unique<Scene>();
    EXPECT_EQ(thrown<std::runtime_error>(file), "loaded");
}

}  // namespace
