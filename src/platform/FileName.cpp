#include "platform/FileName.h"

namespace kes::platform {

namespace {

// Length of the valid UTF-8 sequence at p (1..4), or 0 when invalid.
int Utf8SequenceLength(const unsigned char* p, qsizetype avail, char32_t& cp)
{
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    int len;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (avail < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

} // namespace

QString DecodeName(const char* bytes, qsizetype length)
{
    QString out;
    out.reserve(length);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    qsizetype i = 0;
    while (i < length) {
        char32_t cp = 0;
        const int len = Utf8SequenceLength(p + i, length - i, cp);
        if (len == 0) {
            out.append(QChar(char16_t(0xDC00 + p[i])));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        i += len;
    }
    return out;
}

QByteArray EncodeName(const QString& name)
{
    // Without any surrogate code unit (the usual case) the name is plain
    // UTF-8; this runs for every file operation of a backup pass.
    bool surrogates = false;
    for (const QChar c : name) {
        if (c.isSurrogate()) {
            surrogates = true;
            break;
        }
    }
    if (!surrogates)
        return name.toUtf8();
    QByteArray out;
    out.reserve(name.size() * 3);
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = name[i].unicode();
        char32_t cp = u;
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(name[i + 1].unicode())) {
            cp = QChar::surrogateToUcs4(u, name[i + 1].unicode());
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out.append(char(u - 0xDC00)); // an escaped raw byte
            continue;
        } else if (QChar::isSurrogate(u)) {
            cp = 0xFFFD; // a lone surrogate that no decoding produced
        }
        if (cp < 0x80) {
            out.append(char(cp));
        } else if (cp < 0x800) {
            out.append(char(0xC0 | (cp >> 6)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.append(char(0xE0 | (cp >> 12)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else {
            out.append(char(0xF0 | (cp >> 18)));
            out.append(char(0x80 | ((cp >> 12) & 0x3F)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

bool SameFileName(const QString& a, const QString& b)
{
    return a == b;
}

} // namespace kes::platform
