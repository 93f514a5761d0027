// Files of the platform's image and sound formats written byte by byte, and the
// few whose encoders are too large to write here, kept in tests/fixtures.
#pragma once

#include <cstdint>
#include <string>

namespace test {

// Appends the lowest `bytes` bytes of v, least significant first.
void put_le(std::string& out, std::uint64_t v, int bytes);
// Appends the lowest `bytes` bytes of v, most significant first.
void put_be(std::string& out, std::uint64_t v, int bytes);

// The bytes of tests/fixtures/<name> in the source tree, which tests/fixtures/make
// remakes; std::runtime_error naming it when it can't be read.
std::string fixture(const std::string& name);

}  // namespace test
