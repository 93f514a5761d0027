// nlohmann's JSON parser, an independent reader to check the game's files with.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <iosfwd>

namespace test {

// The whole stream as one JSON value; throws nlohmann::json::parse_error on bad
// input. Out of line so that the parser, a large instantiation, is compiled once
// rather than in every test source that reads JSON.
nlohmann::json parse_json(std::istream& in);

}  // namespace test
