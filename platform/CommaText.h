#pragma once
// A list of texts kept in one line of text, as the filter history is kept in the settings
// file: entries separated by commas; an entry holding a blank, a control character, a double
// quote or a comma is enclosed in double quotes, with each inner double quote doubled.
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The line for entries, in their order. An empty list gives an empty line, a list of one
// empty entry two double quotes. Only the leading entries whose line fits in maxLength
// characters are written, each of them whole.
std::string CommaText(const std::vector<std::string>& entries,
                      size_t maxLength = std::numeric_limits<size_t>::max());

// The entries of a line. Blanks and control characters outside quotes separate entries as
// a comma does; a comma that ends the line adds an empty entry; a quote that is never closed
// runs to the end. The line ends at its first NUL character. Every line written by CommaText
// reads back as the list it was written from.
std::vector<std::string> ParseCommaText(std::string_view text);

}  // namespace platform
