#include "tests/cli/JsonLines.h"

#include <map>
#include <regex>
#include <sstream>

namespace vxa::test {
namespace {

using nlohmann::json;

enum class Kind { kString, kNumber, kBool, kStringOrNull, kNumberOrNull, kArray };

struct Field {
  const char* name;
  Kind kind;
};

const std::vector<Field> kAboutInstrument = {{"index", Kind::kNumber},
                                             {"port", Kind::kStringOrNull},
                                             {"bridge_serial", Kind::kStringOrNull},
                                             {"serial_number", Kind::kStringOrNull}};

std::vector<Field> Instrument(std::vector<Field> own) {
  own.insert(own.begin(), kAboutInstrument.begin(), kAboutInstrument.end());
  return own;
}

// docs/json.md, object by object.
const std::map<std::string, std::vector<Field>>& Schema() {
  static const std::map<std::string, std::vector<Field>> kSchema = {
      {"start", {{"schema", Kind::kNumber}, {"program", Kind::kString}, {"version", Kind::kString},
                 {"command", Kind::kStringOrNull}}},
      {"bridge", {{"index", Kind::kNumber}, {"description", Kind::kString},
                  {"port", Kind::kStringOrNull}, {"bridge_serial", Kind::kStringOrNull}}},
      {"instrument", Instrument({{"model", Kind::kString}, {"device_version", Kind::kString},
                                 {"program_version", Kind::kString}})},
      {"stage", Instrument({{"stage", Kind::kString}, {"text", Kind::kString}})},
      {"progress", Instrument({{"stage", Kind::kStringOrNull}, {"position", Kind::kNumber},
                               {"total", Kind::kNumberOrNull},
                               {"bytes_per_second", Kind::kNumberOrNull}})},
      {"version_wait", Instrument({{"waited_s", Kind::kNumber}, {"limit_s", Kind::kNumber}})},
      {"warning", Instrument({{"warning", Kind::kString}, {"text", Kind::kString}})},
      {"message", {{"level", Kind::kString}, {"text", Kind::kString},
                   {"detail", Kind::kStringOrNull}, {"consequence", Kind::kStringOrNull},
                   {"cause", Kind::kStringOrNull}, {"cause_code", Kind::kStringOrNull},
                   {"hint", Kind::kStringOrNull}}},
      {"outcome", Instrument({{"outcome", Kind::kString}, {"text", Kind::kStringOrNull},
                              {"detail", Kind::kStringOrNull}, {"consequence", Kind::kStringOrNull},
                              {"cause", Kind::kStringOrNull}, {"cause_code", Kind::kStringOrNull},
                              {"hint", Kind::kStringOrNull},
                              {"install_requested", Kind::kBool},
                              {"new_version", Kind::kStringOrNull},
                              {"clock_set", Kind::kStringOrNull},
                              {"blocks_resent", Kind::kNumber}})},
      {"unplugged", Instrument({})},
      {"file", {{"file", Kind::kString}, {"bytes", Kind::kNumber}}},
      {"note", {{"text", Kind::kString}}},
      {"error", {{"outcome", Kind::kString}, {"text", Kind::kString}}},
      {"update_record",
       {{"schema", Kind::kNumber}, {"start_utc", Kind::kString}, {"start_local", Kind::kString},
        {"end_utc", Kind::kString}, {"end_local", Kind::kString}, {"host", Kind::kStringOrNull},
        {"program", Kind::kString}, {"version", Kind::kString}, {"image_size", Kind::kNumber},
        {"image_sha256", Kind::kString}, {"port", Kind::kStringOrNull},
        {"bridge_serial", Kind::kStringOrNull}, {"serial_number", Kind::kStringOrNull},
        {"model", Kind::kStringOrNull}, {"device_version", Kind::kStringOrNull},
        {"program_version", Kind::kStringOrNull}, {"new_version", Kind::kStringOrNull},
        {"outcome", Kind::kString}, {"text", Kind::kStringOrNull},
        {"detail", Kind::kStringOrNull}, {"consequence", Kind::kStringOrNull},
        {"install_requested", Kind::kBool}, {"stages", Kind::kArray},
        {"blocks_resent", Kind::kNumber}, {"clock_set", Kind::kStringOrNull}}},
      {"record_skipped", {{"file", Kind::kString}, {"line", Kind::kNumber}, {"text", Kind::kString}}},
      {"summary", {{"outcome", Kind::kString}, {"exit_status", Kind::kNumber},
                   {"instruments", Kind::kNumber}, {"updated", Kind::kNumber}}},
  };
  return kSchema;
}

bool Holds(const json& value, Kind kind) {
  switch (kind) {
    case Kind::kString: return value.is_string();
    case Kind::kNumber: return value.is_number();
    case Kind::kBool: return value.is_boolean();
    case Kind::kStringOrNull: return value.is_string() || value.is_null();
    case Kind::kNumberOrNull: return value.is_number() || value.is_null();
    case Kind::kArray: return value.is_array();
  }
  return false;
}

std::string CheckObject(const json& object) {
  static const std::regex kIsoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(Z|[+-]\d\d:\d\d))");
  if (!object.is_object() || !object.contains("type") || !object["type"].is_string()) {
    return "no type";
  }
  const auto known = Schema().find(object["type"].get<std::string>());
  if (known == Schema().end()) return "unknown type " + object["type"].dump();
  std::string problems;
  for (const Field& field : known->second) {
    if (!object.contains(field.name) || !Holds(object[field.name], field.kind)) {
      problems += std::string(" field ") + field.name + ";";
    }
  }
  if (!object.contains("time") || !object["time"].is_string() ||
      !std::regex_match(object["time"].get<std::string>(), kIsoTime)) {
    problems += " time;";
  }
  for (const char* when : {"clock_set", "start_utc", "start_local", "end_utc", "end_local"}) {
    if (object.contains(when) && object[when].is_string() &&
        !std::regex_match(object[when].get<std::string>(), kIsoTime)) {
      problems += std::string(" ") + when + ";";
    }
  }
  // A record's image is named by its SHA-256, and each stage by its word with its seconds.
  if (object["type"] == "update_record") {
    static const std::regex kSha256("[0-9a-f]{64}");
    if (!object.value("image_sha256", "").empty() &&
        !std::regex_match(object.value("image_sha256", ""), kSha256)) {
      problems += " image_sha256;";
    }
    for (const json& stage : object.value("stages", json::array())) {
      if (!stage.is_object() || !stage.value("stage", json()).is_string() ||
          !stage.value("seconds", json()).is_number()) {
        problems += " stages;";
      }
    }
  }
  return problems;
}

}  // namespace

std::string CheckJsonLines(const std::string& out, std::vector<json>* objects) {
  std::string problems;
  std::istringstream lines(out);
  size_t number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    json object = json::parse(line, nullptr, false);
    if (object.is_discarded()) {
      problems += "line " + std::to_string(number) + ": not JSON: " + line + "\n";
      continue;
    }
    const std::string wrong = CheckObject(object);
    if (!wrong.empty()) problems += "line " + std::to_string(number) + ":" + wrong + " " + line + "\n";
    objects->push_back(std::move(object));
  }
  if (objects->empty() || objects->front().value("type", "") != "start" ||
      objects->front().value("schema", 0) != 1) {
    problems += "the first object is no start of schema 1\n";
  }
  if (objects->empty() || objects->back().value("type", "") != "summary") {
    problems += "the last object is no summary\n";
  }
  return problems;
}

std::vector<json> OfType(const std::vector<json>& objects, const std::string& type) {
  std::vector<json> found;
  for (const json& object : objects) {
    if (object.value("type", "") == type) found.push_back(object);
  }
  return found;
}

}  // namespace vxa::test
