#pragma once

// The catalogue's rows and the checks the build makes on them. Only text/Messages.cpp includes
// this and the parts of the catalogue.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/Messages.h"

namespace vxa::catalogue {

// One row per message: its id and its text in each language, in id order. A row that lacks a
// language, an id out of order or taken twice, or a format whose conversions differ between the
// languages stops the build: the texts are printf formats, which the compiler cannot check where
// they are used. Texts are stored as UTF-8.
struct CatalogueEntry {
  int32_t id;
  const char* russian;
  const char* english;
};

constexpr bool IsLengthModifier(char c) {
  return c == 'h' || c == 'l' || c == 'j' || c == 'z' || c == 't' || c == 'L' || c == 'q';
}

// The next conversion of a printf format from `at` on, as its length modifiers and its letter
// ("u", "02x" gives "x", "lld" gives "lld"); "%%" is no conversion. Empty at the end.
constexpr std::string_view NextConversion(std::string_view format, size_t& at) {
  while (at < format.size()) {
    if (format[at++] != '%') continue;
    if (at < format.size() && format[at] == '%') {
      ++at;
      continue;
    }
    while (at < format.size() && std::string_view("-+ #0123456789.*").find(format[at]) !=
                                     std::string_view::npos) {
      ++at;
    }
    const size_t start = at;
    while (at < format.size() && IsLengthModifier(format[at])) ++at;
    if (at < format.size()) ++at;
    return format.substr(start, at - start);
  }
  return {};
}

constexpr bool SameConversions(std::string_view first, std::string_view second) {
  size_t i = 0;
  size_t j = 0;
  for (;;) {
    const std::string_view a = NextConversion(first, i);
    const std::string_view b = NextConversion(second, j);
    if (a != b) return false;
    if (a.empty()) return true;
  }
}

constexpr bool Present(const char* text) { return text != nullptr && text[0] != '\0'; }

template <typename Row, size_t N>
consteval bool RowsWhole(const Row (&rows)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (!Present(rows[i].russian) || !Present(rows[i].english)) return false;
  }
  return true;
}

template <size_t N>
consteval bool IdsAscending(const CatalogueEntry (&rows)[N]) {
  for (size_t i = 1; i < N; ++i) {
    if (rows[i].id <= rows[i - 1].id) return false;
  }
  return true;
}

template <size_t N>
consteval bool FormatsAgree(const CatalogueEntry (&rows)[N]) {
  for (const CatalogueEntry& row : rows) {
    if (!SameConversions(row.russian, row.english)) return false;
  }
  return true;
}

}  // namespace vxa::catalogue
