// The syntax of command-line switches, shared by every command-line parser
// of both programs.
//
// An argument is a switch when its first character is "/" or "-"; that
// character is removed before matching. A keyword may be abbreviated and is
// compared without regard to case; a value follows a colon:
// "/l:fr", "-LANG:de", "/p" (portable).
#pragma once

#include <QString>

namespace kes {

// True when the word, in lower case, equals the first length(word)
// characters of the lower-case keyword. Every abbreviation matches ("p",
// "port", "portable" match "portable"); a word longer than the keyword
// does not; an empty word matches every keyword.
bool MatchOption(const QString& word, const QString& keyword);

// When the argument holds a colon and its part before the first colon
// matches the keyword, that part and the colon are removed (the value
// remains) and the result is true; otherwise nothing changes.
bool ReadOptionValue(QString& argument, const QString& keyword);

// Leading blanks are removed; the characters before the first separator
// (or all) are converted to an integer (decimal, or hexadecimal after "$"
// or "0x"); an empty text or a conversion error gives the default. The
// converted characters and the separator are removed from the text.
qint64 ReadNextInt(QString& text, QChar separator, qint64 defaultValue);

// When the argument is a switch, sets word to it without its leading "/"
// or "-" and returns true.
bool IsSwitch(const QString& argument, QString& word);

// Converts a whole text as ReadNextInt does its part; ok tells whether it
// was a number.
qint64 TextToInt64(const QString& text, bool* ok);

} // namespace kes
