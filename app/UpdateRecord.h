#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/InstrumentFacts.h"
#include "app/LoaderView.h"
#include "app/Outcome.h"
#include "app/image/Resources.h"
#include "link/Clock.h"
#include "link/FtDriver.h"

// The record of one instrument's update attempt, as one JSON line that an audit reads later:
// where and when it ran, which image it carried, what the instrument was before and reported
// after, and how it ended, in the words and texts of the JSON output.
namespace vxa {

// What identifies the image an update carries.
struct ImageIdentity {
  size_t size = 0;
  std::string sha256;  // 64 lower-case hexadecimal digits
};

// The boot image among `resources`, hashed where it lies. The built-in image's is worked out
// once and kept.
ImageIdentity IdentityOfImage(std::span<const EmbeddedResource> resources);
const ImageIdentity& BuiltInImageIdentity();

// The local time an instrument's clock was given, with the computer's offset from UTC then.
std::string IsoClockTime(const LocalDateTime& at);

struct StageTime {
  Stage stage;
  Clock::Duration took{};
};

struct UpdateRecord {
  std::time_t started = 0;
  std::time_t ended = 0;
  std::string host;
  ImageIdentity image;
  BridgeInfo bridge;
  std::optional<InstrumentFacts> before;  // once the instrument told its records
  std::string newVersion;                 // the program version it reported after the install
  std::optional<LocalDateTime> clockSet;  // the time its clock was given, when it took it
  Outcome outcome;        // with its failure; an interruption has the kind kInterrupted
  std::string text;       // as the user read it; the failure's when it failed
  std::vector<StageTime> stages;
};

// The record as one line of JSON with its line end.
std::string RecordLine(const UpdateRecord& record);

// What history shows of a record read back.
struct RecordEntry {
  std::string startUtc;  // "2026-12-08T14:05:20Z"
  std::string serialNumber;
  std::string versionBefore;
  std::string versionAfter;  // empty when it reported none
  std::string outcome;       // the machine word
  std::string text;
  std::string stored;  // the line as it stands in the file
};

// A line of a record file read back; nothing for a line that is no whole record (torn by a crash,
// or something else's).
std::optional<RecordEntry> ReadRecordLine(std::string_view line);

// The moment of an ISO 8601 UTC text ("...Z") as the computer's local time "2026-12-08 17:05:20";
// the text itself when it is no such moment.
std::string LocalTimeOfIsoUtc(const std::string& iso);

}  // namespace vxa
