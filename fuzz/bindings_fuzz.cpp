// Reads a binding list from arbitrary bytes. Nothing may escape the reader; the
// list read, written as text, must read back to the same list; a failed read of
// one binding leaves its target as it was.
#include "support/input.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

const kesp::Catch _sentinel = kesp::Catch_mbutton{42};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::vector<kesp::Catch> list = {_sentinel};
    std::istringstream in(text);
    in >> list;
    check(in.fail() && !list.empty());

    std::ostringstream out;
    out << list;
    std::vector<kesp::Catch> again = {kesp::Catch_jbutton{-7}};
    std::istringstream back(out.str());
    back >> again;
    check(again == list);

    kesp::Catch one = _sentinel;
    std::istringstream first(text);
    if (!(first >> one)) check(one == _sentinel);
    return 0;
}
