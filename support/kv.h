// Key-value documents: "key = value" lines under "[section]" headers. No comments,
// no escapes; the settings file is written in this form.
#pragma once

#include "support/scan.h"

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

namespace kesp {

// Cuts a text into section headers, keys and values.
struct Kv_scanner : Scanner {
    enum Token { end = 0, section = 1, key = 2, value = 3, skipped = 4 };

    explicit Kv_scanner(const std::string_view& text) : Scanner(text) {}

    // The kind of the next token; tok() is then its text. A byte that cannot stand
    // where it is gives the syntax-error report.
    int operator()();
    // A header's name, between its brackets.
    std::string_view sec() const { return tok().substr(1, tok().size() - 2); }
    // A key or value less its trailing spaces.
    std::string_view kv() const;

    std::int32_t state = 0;
};

// One value, a view into its document's text; reads itself as a stream would.
class Kv_val {
public:
    constexpr explicit Kv_val(std::string_view text) : text(text) {}

    // An empty value leaves out unchanged; the stream's state afterwards is ignored.
    // A binding list reads through the list reader of support/input.h.
    template <class T>
    const Kv_val& operator>>(T& out) const {
        std::istringstream in{std::string(text)};
        in >> out;
        return *this;
    }

    std::string_view text;
};

using Kv_key = std::pair<std::string_view, std::string_view>;  // (section, key)
using Kv_map = std::map<Kv_key, Kv_val>;

// The entries of a text; the first occurrence of a (section, key) wins.
Kv_map build(const std::string_view& text);

// Owns its text; its entries are views into it, so it is neither copied nor moved.
class Kv_doc {
public:
    explicit Kv_doc(const std::string& text) : text(text), entries(build(this->text)) {}
    explicit Kv_doc(std::string&& text) : text(std::move(text)), entries(build(this->text)) {}
    Kv_doc(const Kv_doc&) = delete;
    Kv_doc& operator=(const Kv_doc&) = delete;

    // The value stored for exactly (section, key); an empty value for any other pair.
    const Kv_val& at(const std::string_view& section, const std::string_view& key) const;

    const std::string text;
    const Kv_map entries;
};

}  // namespace kesp
