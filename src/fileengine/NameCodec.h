// Encodings of the file names stored in gzip and zip headers.
//
// gzip: a name whose characters are all below U+0100 is stored in the
// single-byte code page (Latin-1 here), else in UTF-8.
// zip: a name representable in code page 437 (every character below
// U+0100 and, from U+0080 on, listed in the code page 437 table) is stored
// in code page 437, else in UTF-8 with the flag $0800.
#pragma once

#include <QByteArray>
#include <QString>

namespace kes {

QByteArray GzipStoredName(const QString& name, bool& utf8);
QString GzipNameFromStored(const QByteArray& stored, bool utf8);

QByteArray ZipStoredName(const QString& name, bool& utf8);
QString ZipNameFromStored(const QByteArray& stored, bool utf8);

// The code page 437 byte of a Latin-1 character from U+00A0 on, or 0 when
// it has none (the table the zip names go through).
unsigned char Cp437FromLatin1(char16_t c);

} // namespace kes
