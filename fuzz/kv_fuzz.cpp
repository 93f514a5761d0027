// Builds a key-value document from arbitrary bytes and reads every value as the
// settings do. Only the "syntax error" exception may leave the parser. An accepted
// document, written out again as headers and "key = value" lines, must read back
// to the same entries.
#include "support/input.h"
#include "support/kv.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

using Entries = std::map<std::pair<std::string, std::string>, std::string>;

Entries copy(const kesp::Kv_doc& doc) {
    Entries out;
    for (const auto& [k, v] : doc.entries) out[{std::string(k.first), std::string(k.second)}] = v.text;
    return out;
}

bool inside(const std::string& text, std::string_view view) {
    return view.empty() || (view.data() >= text.data() && view.data() + view.size() <= text.data() + text.size());
}

void read_all(const kesp::Kv_doc& doc) {
    for (const auto& [k, v] : doc.entries) {
        check(inside(doc.text, k.first) && inside(doc.text, k.second) && inside(doc.text, v.text));
        check(!k.second.empty());
        check(&doc.at(k.first, k.second) == &v);
        int n = 0;
        bool b = false;
        std::vector<kesp::Catch> list = {kesp::Catch_mbutton{42}};
        v >> n >> b >> list;
        check(!list.empty());
    }
}

std::string rewrite(const kesp::Kv_doc& doc) {
    std::string text;
    const std::string_view* section = nullptr;
    for (const auto& [k, v] : doc.entries) {
        if (!section || *section != k.first) {
            text += "[" + std::string(k.first) + "]\n";
            section = &k.first;
        }
        text += std::string(k.second) + " = " + std::string(v.text) + "\n";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text;
    try {
        kesp::Kv_doc doc(std::string(reinterpret_cast<const char*>(data), size));
        read_all(doc);
        text = rewrite(doc);
        kesp::Kv_doc again(text);
        check(copy(again) == copy(doc));
    } catch (const std::runtime_error& e) {
        check(std::string_view(e.what()) == "syntax error");
        // The rewritten text is always valid.
        check(text.empty());
    }
    return 0;
}
