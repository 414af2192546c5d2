#include "fileengine/NameCodec.h"

#include "platform/FileName.h"

namespace kes {

namespace {

// Code page 437, bytes $80-$FF.
constexpr char16_t kCp437High[128] = {
    0x00C7,
    0x00FC,
    0x00E9,
    0x00E2,
    0x00E4,
    0x00E0,
    0x00E5,
    0x00E7,
    0x00EA,
    0x00EB,
    0x00E8,
    0x00EF,
    0x00EE,
    0x00EC,
    0x00C4,
    0x00C5,
    0x00C9,
    0x00E6,
    0x00C6,
    0x00F4,
    0x00F6,
    0x00F2,
    0x00FB,
    0x00F9,
    0x00FF,
    0x00D6,
    0x00DC,
    0x00A2,
    0x00A3,
    0x00A5,
    0x20A7,
    0x0192,
    0x00E1,
    0x00ED,
    0x00F3,
    0x00FA,
    0x00F1,
    0x00D1,
    0x00AA,
    0x00BA,
    0x00BF,
    0x2310,
    0x00AC,
    0x00BD,
    0x00BC,
    0x00A1,
    0x00AB,
    0x00BB,
    0x2591,
    0x2592,
    0x2593,
    0x2502,
    0x2524,
    0x2561,
    0x2562,
    0x2556,
    0x2555,
    0x2563,
    0x2551,
    0x2557,
    0x255D,
    0x255C,
    0x255B,
    0x2510,
    0x2514,
    0x2534,
    0x252C,
    0x251C,
    0x2500,
    0x253C,
    0x255E,
    0x255F,
    0x255A,
    0x2554,
    0x2569,
    0x2566,
    0x2560,
    0x2550,
    0x256C,
    0x2567,
    0x2568,
    0x2564,
    0x2565,
    0x2559,
    0x2558,
    0x2552,
    0x2553,
    0x256B,
    0x256A,
    0x2518,
    0x250C,
    0x2588,
    0x2584,
    0x258C,
    0x2590,
    0x2580,
    0x03B1,
    0x00DF,
    0x0393,
    0x03C0,
    0x03A3,
    0x03C3,
    0x00B5,
    0x03C4,
    0x03A6,
    0x0398,
    0x03A9,
    0x03B4,
    0x221E,
    0x03C6,
    0x03B5,
    0x2229,
    0x2261,
    0x00B1,
    0x2265,
    0x2264,
    0x2320,
    0x2321,
    0x00F7,
    0x2248,
    0x00B0,
    0x2219,
    0x00B7,
    0x221A,
    0x207F,
    0x00B2,
    0x25A0,
    0x00A0,
};

bool AllBelow256(const QString& name)
{
    for (QChar c : name) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

} // namespace

unsigned char Cp437FromLatin1(char16_t c)
{
    switch (c) {
    case 0x00A7: // section sign: the graphic of control code $15
        return 0x15;
    case 0x00B6: // pilcrow: the graphic of control code $14
        return 0x14;
    case 0x00A0: // these count as having no equivalent
    case 0x00AA:
    case 0x00B7:
    case 0x00BA:
    case 0x00E1:
        return 0;
    default:
        break;
    }
    if (c < 0xA0 || c > 0xFF)
        return 0;
    for (int i = 0; i < 128; ++i) {
        if (kCp437High[i] == c)
            return static_cast<unsigned char>(0x80 + i);
    }
    return 0;
}

QByteArray GzipStoredName(const QString& name, bool& utf8)
{
    utf8 = !AllBelow256(name);
    return utf8 ? platform::EncodeName(name) : name.toLatin1();
}

QString GzipNameFromStored(const QByteArray& stored, bool utf8)
{
    return utf8 ? platform::DecodeName(stored) : QString::fromLatin1(stored);
}

QByteArray ZipStoredName(const QString& name, bool& utf8)
{
    QByteArray out;
    out.reserve(name.size());
    for (QChar qc : name) {
        const char16_t c = qc.unicode();
        if (c < 0x80) {
            out.append(char(c));
            continue;
        }
        const unsigned char b = Cp437FromLatin1(c);
        if (b == 0) {
            utf8 = true;
            return platform::EncodeName(name);
        }
        out.append(char(b));
    }
    utf8 = false;
    return out;
}

QString ZipNameFromStored(const QByteArray& stored, bool utf8)
{
    if (utf8)
        return platform::DecodeName(stored);
    QString out;
    out.reserve(stored.size());
    for (char ch : stored) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x80)
            out.append(QChar(kCp437High[b - 0x80]));
        else if (b == 0x15)
            out.append(QChar(0x00A7));
        else if (b == 0x14)
            out.append(QChar(0x00B6));
        else
            out.append(QChar(char16_t(b)));
    }
    return out;
}

} // namespace kes
