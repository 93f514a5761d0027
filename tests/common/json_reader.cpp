#include "common/json_reader.h"

#include <nlohmann/json.hpp>

namespace test {

nlohmann::json parse_json(std::istream& in) { return nlohmann::json::parse(in); }

}  // namespace test
