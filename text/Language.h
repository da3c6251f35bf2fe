#pragma once

#include <optional>
#include <string_view>

#include "text/Messages.h"

namespace vxa {

// "en" or "ru" in any case ("EN", "Ru"), as the command lines take them; nothing for any other
// name.
std::optional<MessageLanguage> ParseLanguageName(std::string_view name);

// Looks up one environment variable; null when it is not set.
using EnvironmentLookup = const char* (*)(const char* name);

// The language a user gets without asking on the command line. First LANGUAGE, the GNU list of
// languages in the order preferred ("en_GB:en:ru"): its first entry that is English or Russian
// decides, and a list with neither (or an empty one) is passed over. Then the messages locale, the
// first of LC_ALL, LC_MESSAGES and LANG that is set and not empty, as the C library takes it; only
// one that asks for English explicitly ("en", "en_US.UTF-8", ...) turns the program English, so
// "C", "POSIX" and an unset environment keep it Russian.
MessageLanguage LanguageFromEnvironment(EnvironmentLookup lookup);

// The command line's choice when it made one, otherwise the environment's.
MessageLanguage ChooseMessageLanguage(std::optional<MessageLanguage> fromCommandLine,
                                      EnvironmentLookup lookup);

}  // namespace vxa
