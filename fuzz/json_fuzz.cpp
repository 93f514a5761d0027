// Builds a JSON document from arbitrary bytes and reads every value in it. Only the
// "syntax error" exception may leave the parser; reading must never fail on a
// document that was accepted.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "support/json.h"

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

std::string_view key_of(const std::pair<kesp::Json, kesp::Json>& m)
{
    return m.first.str();
}

void read_object(const kesp::Json& v, std::vector<const kesp::Json*>& todo)
{
    auto obj = v.obj();
    for (auto m = obj.first; m != obj.last; ++m) {
        if (m != obj.first)
            check(!(key_of(*m) < key_of(m[-1])));
        std::string key(key_of(*m));
        // A raw NUL in a key cuts the C string that the lookup takes.
        if (key.find('\0') == std::string::npos) {
            const kesp::Json* found = obj.find(key.c_str());
            check(found != nullptr);
            check(&obj.at(key.c_str()) == found);
        }
        kesp::escape_json_string(m->first.str());
        todo.push_back(&m->second);
    }
    try {
        obj.at("\x7F\x7F no such key");
        check(obj.find("\x7F\x7F no such key") != nullptr);
    } catch (const std::out_of_range&) {
    }
}

void read_array(const kesp::Json& v, std::vector<const kesp::Json*>& todo)
{
    auto arr = v.arr();
    std::uint64_t n = static_cast<std::uint64_t>(arr.end() - arr.begin());
    check(n == v.size);
    for (std::uint64_t i = 0; i != n; ++i)
        todo.push_back(&arr.at(i));
    try {
        arr.at(n);
        check(false);
    } catch (const std::out_of_range&) {
    }
}

// Iterative, so deeply nested input can't exhaust the stack here either.
void read_all(const kesp::Json& root)
{
    std::vector<const kesp::Json*> todo{&root};
    while (!todo.empty()) {
        const kesp::Json& v = *todo.back();
        todo.pop_back();
        switch (v.type) {
        case kesp::Json::Type::bol: v.bol(); break;
        case kesp::Json::Type::num:
            v.num();
            v.num_as<std::int32_t>();
            v.num_as<std::uint32_t>();
            break;
        case kesp::Json::Type::str: kesp::escape_json_string(v.str()); break;
        case kesp::Json::Type::arr: read_array(v, todo); break;
        case kesp::Json::Type::obj: read_object(v, todo); break;
        case kesp::Json::Type::nul:
        case kesp::Json::Type::none: break;
        }
        if (v.type != kesp::Json::Type::str) {
            try {
                v.str();
                check(false);
            } catch (const std::bad_cast&) {
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        kesp::Json_doc doc(std::string(reinterpret_cast<const char*>(data), size));
        read_all(doc.root());
    } catch (const std::runtime_error& e) {
        check(std::string_view(e.what()) == "syntax error");
    }
    return 0;
}
