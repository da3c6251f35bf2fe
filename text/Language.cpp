#include "text/Language.h"

#include <string>

namespace vxa {
namespace {

// "en", or "en" followed by a territory, codeset or modifier; not "eng" or "english". The same
// for "ru".
bool NamesLanguage(std::string_view locale, std::string_view language) {
  return locale.starts_with(language) &&
         (locale.size() == 2 || locale[2] == '_' || locale[2] == '.' || locale[2] == '@');
}

// The first entry of a GNU LANGUAGE list ("en_GB:en:ru") that is one of ours; entries of other
// languages and empty ones are passed over.
std::optional<MessageLanguage> FromLanguageList(std::string_view list) {
  while (!list.empty()) {
    const size_t colon = list.find(':');
    const std::string_view entry = list.substr(0, colon);
    if (NamesLanguage(entry, "en")) return kLanguageEnglish;
    if (NamesLanguage(entry, "ru")) return kLanguageRussian;
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

}  // namespace

std::optional<MessageLanguage> ParseLanguageName(std::string_view name) {
  if (name.size() != 2) return std::nullopt;
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "en") return kLanguageEnglish;
  if (lower == "ru") return kLanguageRussian;
  return std::nullopt;
}

MessageLanguage LanguageFromEnvironment(EnvironmentLookup lookup) {
  if (const char* list = lookup("LANGUAGE"); list != nullptr) {
    if (const std::optional<MessageLanguage> chosen = FromLanguageList(list)) return *chosen;
  }
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = lookup(variable);
    if (value == nullptr || *value == '\0') continue;
    return NamesLanguage(value, "en") ? kLanguageEnglish : kLanguageRussian;
  }
  return kLanguageRussian;
}

MessageLanguage ChooseMessageLanguage(std::optional<MessageLanguage> fromCommandLine,
                                      EnvironmentLookup lookup) {
  return fromCommandLine ? *fromCommandLine : LanguageFromEnvironment(lookup);
}

}  // namespace vxa
