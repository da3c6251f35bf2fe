#include "app/HelpText.h"

#include "text/Messages.h"

namespace vxa {
namespace {

// Characters, not bytes: the texts are UTF-8.
size_t Width(std::string_view text) {
  size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return characters;
}

// One line of a paragraph, without its line end.
void WrapLine(std::string_view line, size_t width, size_t* column, size_t indent,
              std::string* out) {
  size_t position = 0;
  bool first = true;
  while (position < line.size()) {
    const size_t space = line.find(' ', position);
    const std::string_view word =
        line.substr(position, space == std::string_view::npos ? std::string_view::npos
                                                              : space - position);
    position = space == std::string_view::npos ? line.size() : space + 1;
    if (word.empty()) continue;
    const size_t wanted = Width(word) + (first ? 0 : 1);
    if (!first && *column + wanted > width) {
      *out += '\n';
      out->append(indent, ' ');
      *column = indent;
      first = true;
    }
    if (!first) *out += ' ';
    *out += word;
    *column += Width(word) + (first ? 0 : 1);
    first = false;
  }
}

}  // namespace

std::string WrapText(std::string_view text, size_t width, size_t column, size_t indent) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('\n', start);
    WrapLine(text.substr(start, end == std::string_view::npos ? std::string_view::npos
                                                              : end - start),
             width, &column, indent, &out);
    if (end == std::string_view::npos) break;
    out += '\n';
    out.append(indent, ' ');
    column = indent;
    start = end + 1;
  }
  return out;
}

std::string HelpRows(const std::vector<HelpRow>& rows) {
  std::string out;
  for (const HelpRow& row : rows) {
    std::string line = "  " + row.label;
    const size_t used = Width(line);
    // A label that reaches the text's column leaves the text a line of its own.
    line += used + 1 >= kHelpTextColumn ? "\n" + std::string(kHelpTextColumn, ' ')
                                        : std::string(kHelpTextColumn - used, ' ');
    out += line + WrapText(row.text, kHelpWidth, kHelpTextColumn, kHelpTextColumn) + '\n';
  }
  return out;
}

std::string ListOf(const std::vector<std::string>& words) {
  std::string list;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) list += i + 1 == words.size() ? VXA_MSG(msg::kHelpListOr) : ", ";
    list += words[i];
  }
  return list;
}

}  // namespace vxa
