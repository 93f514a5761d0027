#include "game/map_read.h"

namespace {

std::string _expected(kesp::Json::Type type) {
    switch (type) {
    case kesp::Json::Type::num: return "expected a number";
    case kesp::Json::Type::str: return "expected a string";
    case kesp::Json::Type::arr: return "expected an array";
    case kesp::Json::Type::obj: return "expected an object";
    default: return "expected a value";
    }
}

}  // namespace

const kesp::Json& Map_reader::at(const kesp::Json_obj& obj, const char* key, kesp::Json::Type type) {
    Step in_key(*this, key);
    const kesp::Json* v = obj.find(key);
    if (!v) throw std::out_of_range(named(place(), "missing, " + _expected(type)));
    return check(*v, type);
}

const kesp::Json& Map_reader::check(const kesp::Json& v, kesp::Json::Type type) const {
    if (v.type != type) throw Map_bad_type(named(place(), _expected(type)));
    return v;
}

void Map_reader::refuse(const std::string& problem) const { throw std::runtime_error(named(place(), problem)); }

void Map_reader::refuse(const char* key, const std::string& problem) {
    Step in_key(*this, key);
    refuse(problem);
}

void Map_reader::refuse_file(const std::string& problem) const { throw std::runtime_error(named({}, problem)); }

std::string Map_reader::named(const std::string& place, const std::string& problem) const {
    // Appended in steps: GCC 12 warns falsely on a literal prepended to a temporary.
    std::string line = "\"";
    line += file.string();
    line += "\": ";
    if (!place.empty()) {
        line += place;
        line += ": ";
    }
    line += problem;
    return line;
}

std::string Map_reader::place() const {
    if (path.empty()) return "top level";
    std::string s;
    for (const Key& k : path) {
        if (k.key) {
            if (!s.empty()) s += '.';
            s += k.key;
        } else {
            s += '[' + std::to_string(k.index) + ']';
        }
    }
    return s;
}
