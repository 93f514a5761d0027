#include "common/file_bytes.h"

#include "common/process.h"

#include <stdexcept>

namespace test {

void put_le(std::string& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i) & 0xff));
}

void put_be(std::string& out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i) & 0xff));
}

std::string fixture(const std::string& name) {
    const std::string path = std::string(QUORLA_SOURCE_DIR) + "/tests/fixtures/" + name;
    const std::string bytes = read_file(path);
    // No fixture is empty: an empty read is one that failed.
    if (bytes.empty()) throw std::runtime_error("can't read the fixture " + path);
    return bytes;
}

}  // namespace test
