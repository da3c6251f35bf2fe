#include "app/UpdateRecord.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "Version.h"
#include "base/CivilTime.h"
#include "base/IsoTime.h"
#include "base/Sha256.h"

namespace vxa {
namespace {

using json = nlohmann::ordered_json;

json TextOrNull(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

std::string StringField(const json& object, const char* name) {
  const auto found = object.find(name);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

json Stages(const std::vector<StageTime>& stages) {
  json list = json::array();
  for (const StageTime& stage : stages) {
    const double seconds = std::chrono::duration<double>(stage.took).count();
    // Milliseconds are all a reader of the record can use.
    list.push_back({{"stage", StageCode(stage.stage)},
                    {"seconds", static_cast<double>(static_cast<long long>(seconds * 1000)) / 1000}});
  }
  return list;
}

}  // namespace

ImageIdentity IdentityOfImage(std::span<const EmbeddedResource> resources) {
  const EmbeddedResource* image = FindEmbeddedResource(resources, kBootImageName, kBootImageType);
  if (image == nullptr) return {};
  return {image->size, Sha256::HexOf({image->data, image->size})};
}

const ImageIdentity& BuiltInImageIdentity() {
  static const ImageIdentity kIdentity = IdentityOfImage(BuiltInResources());
  return kIdentity;
}

std::string IsoClockTime(const LocalDateTime& at) {
  std::tm calendar{};
  calendar.tm_year = at.year - 1900;
  calendar.tm_mon = at.month - 1;
  calendar.tm_mday = at.day;
  calendar.tm_hour = at.hour;
  calendar.tm_min = at.minute;
  calendar.tm_sec = at.second;
  return IsoLocalCalendar(calendar, std::time(nullptr));
}

std::string RecordLine(const UpdateRecord& record) {
  const std::optional<InstrumentFacts>& before = record.before;
  const Failure* failure = record.outcome.failure ? &*record.outcome.failure : nullptr;
  const json object = {
      {"type", "update_record"},
      {"schema", 1},
      {"start_utc", IsoUtc(record.started)},
      {"start_local", IsoLocal(record.started)},
      {"end_utc", IsoUtc(record.ended)},
      {"end_local", IsoLocal(record.ended)},
      {"host", TextOrNull(record.host)},
      {"program", "vxa4410-cli"},
      {"version", VXA_PRODUCT_VERSION},
      {"image_size", record.image.size},
      {"image_sha256", record.image.sha256},
      {"port", TextOrNull(record.bridge.location)},
      {"bridge_serial", TextOrNull(record.bridge.serialNumber)},
      {"serial_number", before ? TextOrNull(before->serialNumber) : json(nullptr)},
      {"model", before ? TextOrNull(before->model) : json(nullptr)},
      {"device_version", before ? TextOrNull(before->deviceVersion) : json(nullptr)},
      {"program_version", before ? TextOrNull(before->programVersion) : json(nullptr)},
      {"new_version", TextOrNull(record.newVersion)},
      {"outcome", OutcomeCode(record.outcome)},
      {"text", TextOrNull(record.text)},
      {"detail", failure != nullptr ? TextOrNull(failure->detail) : json(nullptr)},
      {"consequence", failure != nullptr ? TextOrNull(failure->consequence) : json(nullptr)},
      {"install_requested", record.outcome.kernelRequested},
      {"stages", Stages(record.stages)},
      {"blocks_resent", record.outcome.blocksResent},
      {"clock_set", record.clockSet ? json(IsoClockTime(*record.clockSet)) : json(nullptr)},
  };
  // Whatever bytes an instrument's text holds, the line stays valid JSON.
  return object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<RecordEntry> ReadRecordLine(std::string_view line) {
  const json object = json::parse(line, nullptr, false);
  if (object.is_discarded() || !object.is_object() ||
      StringField(object, "type") != "update_record") {
    return std::nullopt;
  }
  RecordEntry entry{StringField(object, "start_utc"), StringField(object, "serial_number"),
                    StringField(object, "program_version"), StringField(object, "new_version"),
                    StringField(object, "outcome"), StringField(object, "text"),
                    std::string(line)};
  // A record says when and how it ended, or it is none.
  if (entry.startUtc.empty() || entry.outcome.empty()) return std::nullopt;
  return entry;
}

std::string LocalTimeOfIsoUtc(const std::string& iso) {
  std::tm calendar{};
  char zone = 0;
  if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &calendar.tm_year, &calendar.tm_mon,
                  &calendar.tm_mday, &calendar.tm_hour, &calendar.tm_min, &calendar.tm_sec,
                  &zone) != 7 ||
      zone != 'Z') {
    return iso;
  }
  calendar.tm_year -= 1900;
  calendar.tm_mon -= 1;
  const std::time_t seconds = SecondsOfUtcCalendar(&calendar);
  std::tm local{};
  if (seconds == -1 || !LocalCalendar(seconds, &local)) return iso;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace vxa
