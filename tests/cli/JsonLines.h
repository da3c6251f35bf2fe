#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vxa::test {

// Every line of `out` checked against the objects docs/json.md describes: valid JSON, a known
// "type" with each of its fields of the documented kind, a "time" in ISO 8601 with its offset,
// "schema": 1 in the first object and a summary last. The objects parsed, and what was wrong,
// one problem a line (empty when nothing).
std::string CheckJsonLines(const std::string& out, std::vector<nlohmann::json>* objects);

// The objects of one type.
std::vector<nlohmann::json> OfType(const std::vector<nlohmann::json>& objects,
                                   const std::string& type);

}  // namespace vxa::test
