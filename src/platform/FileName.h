// File names between Qt text and the bytes of the file system.
//
// Linux file names are byte strings and need not be valid UTF-8. Every
// file-system call of the platform layer converts names with these two
// functions, which round-trip any byte string: valid UTF-8 is decoded as
// such, and every byte of an invalid sequence becomes the lone surrogate
// U+DC80..U+DCFF ("surrogate escape"); encoding turns those back into the
// original bytes. So a name with invalid UTF-8 can be listed, kept in a
// pending list or a UTF-16 settings file, and opened again.
#pragma once

#include <QByteArray>
#include <QString>

namespace kes::platform {

QByteArray EncodeName(const QString& name);
QString DecodeName(const char* bytes, qsizetype length);
inline QString DecodeName(const QByteArray& bytes)
{
    return DecodeName(bytes.constData(), bytes.size());
}

// Whether two file names name the same file by their text: exact on Linux,
// where names that differ in case are different files.
bool SameFileName(const QString& a, const QString& b);

} // namespace kes::platform
