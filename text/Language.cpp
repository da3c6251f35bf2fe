#include "text/Language.h"

namespace vxa {

std::optional<MessageLanguage> ParseLanguageName(std::string_view name) {
  if (name == "en") return kLanguageEnglish;
  if (name == "ru") return kLanguageRussian;
  return std::nullopt;
}

MessageLanguage LanguageFromEnvironment(EnvironmentLookup lookup) {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = lookup(variable);
    if (value == nullptr || *value == '\0') continue;
    const std::string_view locale(value);
    // "en", or "en" followed by a territory, codeset or modifier; not "eng" or "english".
    const bool english =
        locale.starts_with("en") && (locale.size() == 2 || locale[2] == '_' ||
                                     locale[2] == '.' || locale[2] == '@');
    return english ? kLanguageEnglish : kLanguageRussian;
  }
  return kLanguageRussian;
}

MessageLanguage ChooseMessageLanguage(std::optional<MessageLanguage> fromCommandLine,
                                      EnvironmentLookup lookup) {
  return fromCommandLine ? *fromCommandLine : LanguageFromEnvironment(lookup);
}

}  // namespace vxa
