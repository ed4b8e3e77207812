#pragma once
// A capture's bytes made fit for a terminal: shown, not obeyed. The Data cells and payloads of
// real captures hold ESC sequences and other controls, which a terminal would carry out
// (moving the cursor, changing colours, the window title, the character set); written to one,
// such a byte is written as a visible escape instead. Nothing here knows the locale: the
// caller says which character set the terminal shows (trellan-rows reads it from LC_CTYPE).
//
// Escaped, each byte as \xHH (two lowercase hexadecimal digits, "\x1b" for ESC):
//   - C0 controls (00 to 1F) other than the separators the caller's format itself uses, and
//     DEL (7F);
//   - with TTerminalCharset::UTF8: every byte of an invalid or incomplete UTF-8 sequence (an
//     overlong form, a surrogate, a code point above 10FFFF, a stray continuation byte), one
//     byte at a time, so that decoding resumes at the byte after; and both bytes of a C1
//     control (U+0080 to U+009F), which terminals obey as ESC sequences, as well as the
//     bytes of the Unicode direction controls (U+061C, U+200E, U+200F, U+202A to U+202E,
//     U+2066 to U+2069), which reorder what a terminal with bidirectional text shows. Valid
//     sequences of other characters pass as they are;
//   - with TTerminalCharset::ASCII (any other character set): every byte of 80 and above,
//     which such a terminal would show as some other character or take for a C1 control.
// A backslash is written \\ when the caller asks, so that a "\x1b" in the output can only
// be an escaped byte; a format that already writes every backslash of its text as \\ (the
// rows of trellan-rows) leaves it as it is.
#include <string>
#include <string_view>

enum class TTerminalCharset { ASCII, UTF8 };

struct TTerminalEscapes {
  TTerminalCharset Charset = TTerminalCharset::ASCII;
  // The controls the output's own format separates its parts with (tab between cells, line
  // feed between lines): they pass as themselves. Any other control is escaped.
  std::string_view Separators;
  // Whether a backslash is written as \\.
  bool Backslash = true;
};

// Appends `text`, escaped as `escapes` say, to `out`.
void AppendTerminalText(std::string_view text, const TTerminalEscapes& escapes, std::string& out);
// `text` escaped as `escapes` say.
std::string TerminalText(std::string_view text, const TTerminalEscapes& escapes);
// The character set of a locale's CODESET (nl_langinfo): UTF8 for "UTF-8" and its spellings
// ("utf8", letter case, '-' and '_' aside), ASCII for anything else.
TTerminalCharset TerminalCharsetOf(std::string_view codeset);
