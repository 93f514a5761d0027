// The platform's millisecond counter, for game code that doesn't include SDL.
#pragma once

#include <cstdint>

namespace kesp {

// Milliseconds since the platform library started; never goes back.
std::uint64_t ticks();

}  // namespace kesp
