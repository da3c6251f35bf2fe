#include "text/Messages.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

#include "Version.h"

#include "text/CatalogueDesign.h"
#include "text/CatalogueOwn.h"

namespace vxa {
namespace {

using catalogue::CatalogueEntry;

// The parts in id order; a lookup goes to the part whose last id is not below the one wanted.
constexpr std::span<const CatalogueEntry> kParts[] = {catalogue::kDesignRows, catalogue::kOwnRows};

consteval bool PartsAscending() {
  for (size_t i = 1; i < std::size(kParts); ++i) {
    if (kParts[i - 1].back().id >= kParts[i].front().id) return false;
  }
  return true;
}
static_assert(PartsAscending(), "the catalogue's parts must follow each other in id order");

std::atomic<int32_t> g_language{kLanguageRussian};

constexpr char kFallbackPrefix[] = "UNKNOWN MESSAGE ";
constexpr size_t kFallbackSize = 36;

// Each thread has its own fallback text, so that two threads missing at the same time never
// write into one buffer.
thread_local char t_fallback[kFallbackSize];

// The string table: one row per number, 1 upwards with none left out; number 0 has no text.
struct StringTableEntry {
  int number;
  const char* russian;
  const char* english;
};

constexpr StringTableEntry kStringTable[] = {
    {str::kUpdate, "Обновление", "Update"},
    {str::kNotConnected,
     "Прибор не подключен к USB порту",
     "The instrument is not connected to the USB port"},
    {str::kLabelModel, "Модель: ", "Model: "},
    {str::kLabelSerial, "Заводской номер: ", "Serial number: "},
    {str::kLabelDeviceVersion, "Версия прибора: ", "Device version: "},
    {str::kLabelProgramVersion, "Версия программы: ", "Program version: "},
    {str::kConfirmLoad,
     "Операция загрузки программы может привести к потере\nработоспособности прибора в случае "
     "ошибки.\nПроизвести загрузку программы?",
     "Loading the program may leave the instrument unusable\nif an error occurs.\nLoad the program?"},
    {str::kLoadCompleted,
     "Загрузка программы успешно завершена",
     "The program was loaded successfully"},
    {str::kCommunicationError,
     "Ошибка связи с прибором",
     "Communication error with the instrument"},
    {str::kBatteryLow,
     "Батарея прибора недостаточно заряжена.\nПроизведите зарядку батареи.",
     "The instrument's battery is low.\nCharge the battery."},
    {str::kRomError, "Ошибка ПЗУ прибора", "Instrument ROM error"},
    {str::kBatteryCheck, "Проверка заряда батареи", "Battery charge check"},
    {str::kLoading, "Загрузка", "Loading"},
    // "Device" fits the label's fixed width, as "Прибор" does.
    {str::kLabelDevice, "Прибор", "Device"},
    {str::kLabelSoftware, "Программное обеспечение VXA-4410", "VXA-4410 Software"},
    {str::kLabelVersion,
     "Версия " VXA_PRODUCT_VERSION " Русский язык",
     "Version " VXA_PRODUCT_VERSION " English"},
};

template <size_t N>
consteval bool NumbersFromOne(const StringTableEntry (&rows)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (rows[i].number != static_cast<int>(i) + 1) return false;
  }
  return true;
}

static_assert(catalogue::RowsWhole(kStringTable), "a string-table text lacks a language");
static_assert(NumbersFromOne(kStringTable), "string-table numbers must run from 1 without a gap");

const char* InLanguage(const char* russian, const char* english) {
  return g_language.load(std::memory_order_relaxed) == kLanguageEnglish ? english : russian;
}

}  // namespace

const char* MessageText(int32_t id, int32_t line) {
  for (const std::span<const CatalogueEntry> part : kParts) {
    if (part.back().id < id) continue;
    const auto row = std::lower_bound(
        part.begin(), part.end(), id,
        [](const CatalogueEntry& entry, int32_t wanted) { return entry.id < wanted; });
    if (row != part.end() && row->id == id) return InLanguage(row->russian, row->english);
    break;
  }
  std::snprintf(t_fallback, sizeof t_fallback, "%s%d", kFallbackPrefix, line);
  return t_fallback;
}

void SetMessageLanguage(int32_t index) {
  if (index == kLanguageRussian || index == kLanguageEnglish) {
    g_language.store(index, std::memory_order_relaxed);
  }
}

int32_t CurrentMessageLanguage() { return g_language.load(std::memory_order_relaxed); }

std::string StringTableText(int number) {
  if (number <= 0 || number > static_cast<int>(std::size(kStringTable))) return {};
  const StringTableEntry& row = kStringTable[static_cast<size_t>(number) - 1];
  return InLanguage(row.russian, row.english);
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string result;
  if (length > 0) {
    result.resize(static_cast<size_t>(length));
    std::vsnprintf(result.data(), result.size() + 1, format, args);
  }
  va_end(args);
  return result;
}

}  // namespace vxa
