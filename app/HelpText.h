#pragma once

#include <string>
#include <string_view>
#include <vector>

// The --help of both programs, laid out once: rows of a label and its text, the texts in one
// column and wrapped at word boundaries, every line within a standard terminal's width.
namespace vxa {

inline constexpr size_t kHelpWidth = 80;
// Where the text of a row starts.
inline constexpr size_t kHelpTextColumn = 19;

struct HelpRow {
  std::string label;  // "--port PATH", "-y, --yes"
  std::string text;   // one paragraph; a line end in it starts a new line
};

// The text wrapped at word boundaries into lines of at most `width` characters (UTF-8 code
// points), written from `column` on; each line after the first starts with `indent` spaces.
std::string WrapText(std::string_view text, size_t width, size_t column, size_t indent);
// Rows as "  label   text": the label two spaces in, the text at kHelpTextColumn (on a line of its
// own when the label reaches it), each row ending with a line end.
std::string HelpRows(const std::vector<HelpRow>& rows);
// "a, b или c": the words joined as a list in the catalogue's language.
std::string ListOf(const std::vector<std::string>& words);

}  // namespace vxa
