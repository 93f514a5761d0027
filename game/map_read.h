// Checked reading of a map's JSON values. The reader keeps the keys and indices
// from the root to the value it reads, so that every refusal names the file and
// the place: "level/x.tmj": layers[0].type: expected a string.
#pragma once

#include "support/json.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

// A map value of another JSON type than the map needs. std::bad_cast has no
// message of its own to carry the place.
class Map_bad_type : public std::bad_cast {
public:
    explicit Map_bad_type(const std::string& what) : text(what) {}
    const char* what() const noexcept override { return text.what(); }

private:
    std::runtime_error text;  // copies without throwing, as an exception must
};

class Map_reader {
public:
    explicit Map_reader(std::filesystem::path file = {}) : file(std::move(file)) {}

    // While it lives, the place read is one key or index further in.
    class Step {
    public:
        Step(Map_reader& reader, const char* key) : reader(reader) { reader.path.push_back({key, 0}); }
        Step(Map_reader& reader, std::uint64_t index) : reader(reader) { reader.path.push_back({nullptr, index}); }
        ~Step() { reader.path.pop_back(); }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

    private:
        Map_reader& reader;
    };

    // The member key of obj, of the given type: std::out_of_range when it is
    // missing, Map_bad_type when it has another type, both naming it.
    const kesp::Json& at(const kesp::Json_obj& obj, const char* key, kesp::Json::Type type);
    // v, the value at the current place, if it has the given type.
    const kesp::Json& check(const kesp::Json& v, kesp::Json::Type type) const;
    // read(element) for each element of the array under key, each of the given type.
    template <class F>
    void each(const kesp::Json_obj& obj, const char* key, kesp::Json::Type type, F read);

    // std::runtime_error naming the current place, or its member key, and the problem.
    [[noreturn]] void refuse(const std::string& problem) const;
    [[noreturn]] void refuse(const char* key, const std::string& problem);
    // std::runtime_error naming the file and a problem of the file as a whole.
    [[noreturn]] void refuse_file(const std::string& problem) const;
    // The file, the place and the problem in one line.
    std::string named(const std::string& place, const std::string& problem) const;

private:
    struct Key {
        const char* key;  // null for an array index
        std::uint64_t index;
    };
    // The current place, as layers[0].data[3].
    std::string place() const;

    std::filesystem::path file;
    std::vector<Key> path;
};

template <class F>
void Map_reader::each(const kesp::Json_obj& obj, const char* key, kesp::Json::Type type, F read) {
    kesp::Json_arr items = at(obj, key, kesp::Json::Type::arr).arr();
    Step in_key(*this, key);
    std::uint64_t i = 0;
    for (const kesp::Json& v : items) {
        Step in_item(*this, i++);
        read(check(v, type));
    }
}
