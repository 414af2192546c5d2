#include "frame/UnicodeIniFile.h"

#include "frame/Format.h"
#include "frame/I18n.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStringDecoder>

#include <exception>
#include <vector>

namespace kes {

namespace {

// Settings and task files are small; anything beyond this is not an INI
// file we wrote and is refused rather than loaded into memory.
constexpr qint64 kMaxIniFileSize = 256LL * 1024 * 1024;

const QString kUnicodeSection = QStringLiteral("Unicode");
const QString kEncodingKey = QStringLiteral("Encoding");
const QString kEncodingValue = QStringLiteral("UTF-16LE");

// Windows-1252 code points for the bytes 0x80..0x9F (0 = undefined there,
// read as the Latin-1 control character of the same value).
constexpr char16_t kCp1252High[32] = {
    0x20AC,
    0x0081,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0x008D,
    0x017D,
    0x008F,
    0x0090,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0x009D,
    0x017E,
    0x0178,
};

QString DecodeUtf16(const char* p, qsizetype bytes, bool bigEndian)
{
    // Code units are taken as they are (lone surrogates included) so that
    // whatever was written can be read back unchanged; an odd last byte is
    // dropped.
    const qsizetype n = bytes / 2;
    QString s(n, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(s.data());
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned lo = b[2 * i], hi = b[2 * i + 1];
        out[i] = char16_t(bigEndian ? (lo << 8) | hi : (hi << 8) | lo);
    }
    return s;
}

QString DecodeCp1252(const char* p, qsizetype bytes)
{
    QString s(bytes, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(s.data());
    for (qsizetype i = 0; i < bytes; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        out[i] = (c >= 0x80 && c <= 0x9F) ? kCp1252High[c - 0x80] : char16_t(c);
    }
    return s;
}

QString DecodeFile(const QByteArray& raw)
{
    const char* p = raw.constData();
    const qsizetype n = raw.size();
    if (n >= 2 && uchar(p[0]) == 0xFF && uchar(p[1]) == 0xFE)
        return DecodeUtf16(p + 2, n - 2, false);
    if (n >= 2 && uchar(p[0]) == 0xFE && uchar(p[1]) == 0xFF)
        return DecodeUtf16(p + 2, n - 2, true);
    if (n >= 3 && uchar(p[0]) == 0xEF && uchar(p[1]) == 0xBB && uchar(p[2]) == 0xBF)
        return QString::fromUtf8(p + 3, n - 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(raw);
    if (!utf8.hasError())
        return s;
    return DecodeCp1252(p, n);
}

QString Fold(const QString& s)
{
    return s.toCaseFolded();
}

// Decimal, or hexadecimal after "$"; an optional sign before either. The
// whole text must be a number. Hexadecimal values may use the full unsigned
// width of the target (bits wrap, $FFFFFFFF is -1 as a 32-bit value).
bool ParseInteger(QString text, int bits, qint64& result)
{
    if (text.size() > 2 && text[0] == QLatin1Char('0')
        && (text[1] == QLatin1Char('x') || text[1] == QLatin1Char('X')))
        text.replace(0, 2, QLatin1Char('$'));
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    bool hex = false;
    if (i < text.size() && text[i] == QLatin1Char('$')) {
        hex = true;
        ++i;
    }
    if (i >= text.size())
        return false;
    const quint64 limitUnsigned = bits == 64 ? ~quint64(0) : (quint64(1) << bits) - 1;
    quint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        const unsigned base = hex ? 16 : 10;
        if (value > (limitUnsigned - digit) / base)
            return false;
        value = value * base + digit;
    }
    if (hex) {
        // Reinterpret the bit pattern in the target width.
        qint64 v = bits == 64 ? qint64(value) : qint64(qint32(quint32(value)));
        result = negative ? -v : v;
        return true;
    }
    const quint64 maxPositive = bits == 64 ? quint64(INT64_MAX) : quint64(INT32_MAX);
    if (negative) {
        if (value > maxPositive + 1)
            return false;
        result = value == maxPositive + 1 ? (bits == 64 ? INT64_MIN : qint64(INT32_MIN)) : -qint64(value);
    } else {
        if (value > maxPositive)
            return false;
        result = qint64(value);
    }
    return true;
}

} // namespace

EIniReadError::EIniReadError(const QString& message)
    : std::runtime_error(message.toStdString())
{
}

EIniWriteError::EIniWriteError(const QString& message, int errorCode)
    : std::runtime_error(message.toStdString())
    , m_errorCode(errorCode)
{
}

struct TUnicodeIniFile::Data {
    struct Line {
        QString key; // trimmed key of an entry
        QString value; // trimmed value of an entry
        QString raw; // the whole line when it holds no "="
        bool isEntry = true;
    };
    struct Section {
        QString name;
        std::vector<Line> lines;
        // Folded key -> index of its first entry. Pending lists and task
        // files can hold very many keys; look-ups must not be linear.
        QHash<QString, qsizetype> keys;
        bool keysValid = false;

        void Index()
        {
            keys.clear();
            // Walk backwards so that the first occurrence of a key wins.
            for (qsizetype i = qsizetype(lines.size()) - 1; i >= 0; --i)
                if (lines[size_t(i)].isEntry)
                    keys.insert(Fold(lines[size_t(i)].key), i);
            keysValid = true;
        }
        Line* FindKey(const QString& key)
        {
            if (!keysValid)
                Index();
            auto it = keys.constFind(Fold(key));
            return it == keys.constEnd() ? nullptr : &lines[size_t(*it)];
        }
        void Append(Line line)
        {
            if (keysValid && line.isEntry) {
                const QString f = Fold(line.key);
                if (!keys.contains(f))
                    keys.insert(f, qsizetype(lines.size()));
            }
            lines.push_back(std::move(line));
        }
    };

    QString fileName;
    bool readOnly = true;
    bool written = false;
    int uncaught = 0;
    std::vector<Section> sections;
    QHash<QString, qsizetype> sectionIndex; // folded name -> index in sections

    void Reindex()
    {
        sectionIndex.clear();
        for (qsizetype i = qsizetype(sections.size()) - 1; i >= 0; --i)
            sectionIndex.insert(Fold(sections[size_t(i)].name), i);
    }

    Section* Find(const QString& name)
    {
        auto it = sectionIndex.constFind(Fold(name));
        return it == sectionIndex.constEnd() ? nullptr : &sections[size_t(*it)];
    }
    const Section* Find(const QString& name) const { return const_cast<Data*>(this)->Find(name); }

    Section& Ensure(const QString& name)
    {
        if (Section* s = Find(name))
            return *s;
        sectionIndex.insert(Fold(name), qsizetype(sections.size()));
        sections.push_back(Section {name, {}, {}, false});
        return sections.back();
    }

    void Parse(const QString& text)
    {
        qsizetype current = -1;
        qsizetype pos = 0;
        const qsizetype n = text.size();
        while (pos < n) {
            qsizetype end = pos;
            while (end < n && text[end] != QLatin1Char('\n') && text[end] != QLatin1Char('\r'))
                ++end;
            const QString line = text.mid(pos, end - pos).trimmed();
            pos = end;
            if (pos < n && text[pos] == QLatin1Char('\r'))
                ++pos;
            if (pos < n && text[pos] == QLatin1Char('\n'))
                ++pos;
            if (line.isEmpty() || line[0] == QLatin1Char(';'))
                continue;
            if (line[0] == QLatin1Char('[') && line.endsWith(QLatin1Char(']'))) {
                // A repeated header continues the earlier section of that
                // name, so no entry of the file is hidden or lost.
                Section& section = Ensure(line.mid(1, line.size() - 2).trimmed());
                current = &section - sections.data();
                continue;
            }
            if (current < 0)
                continue;
            Line l;
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq < 0) {
                l.isEntry = false;
                l.raw = line;
            } else {
                l.key = line.left(eq).trimmed();
                l.value = line.mid(eq + 1).trimmed();
            }
            sections[size_t(current)].lines.push_back(std::move(l));
        }
    }

    QByteArray Serialise() const
    {
        QString text;
        for (const Section& s : sections) {
            text += QLatin1Char('[') + s.name + QStringLiteral("]\r\n");
            for (const Line& l : s.lines) {
                if (l.isEntry)
                    text += l.key + QLatin1Char('=') + l.value;
                else
                    text += l.raw;
                text += QStringLiteral("\r\n");
            }
            text += QStringLiteral("\r\n");
        }
        QByteArray out;
        out.reserve(2 + text.size() * 2);
        out.append("\xFF\xFE", 2);
        for (QChar c : std::as_const(text)) {
            const char16_t u = c.unicode();
            out.append(char(u & 0xFF));
            out.append(char(u >> 8));
        }
        return out;
    }
};

TUnicodeIniFile::TUnicodeIniFile(const QString& fileName, bool readOnly)
    : d(std::make_unique<Data>())
{
    d->fileName = fileName;
    d->readOnly = readOnly;
    d->uncaught = std::uncaught_exceptions();
    QFileInfo info(fileName);
    if (!info.exists())
        return;
    if (info.isDir())
        throw EIniReadError(Format(U_("Cannot open file \"%s\". %s"), {fileName, U_("It is a folder.")}));
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        throw EIniReadError(Format(U_("Cannot open file \"%s\". %s"), {fileName, f.errorString()}));
    if (f.size() > kMaxIniFileSize)
        throw EIniReadError(
            Format(U_("Cannot open file \"%s\". %s"), {fileName, U_("The file is too large.")}));
    QByteArray raw = f.read(kMaxIniFileSize + 1);
    if (f.error() != QFileDevice::NoError || raw.size() > kMaxIniFileSize)
        throw EIniReadError(Format(U_("Cannot open file \"%s\". %s"), {fileName, f.errorString()}));
    d->Parse(DecodeFile(raw));
}

std::unique_ptr<TUnicodeIniFile> TUnicodeIniFile::CreateForRead(const QString& fileName)
{
    return std::unique_ptr<TUnicodeIniFile>(new TUnicodeIniFile(fileName, true));
}

std::unique_ptr<TUnicodeIniFile> TUnicodeIniFile::CreateForWrite(const QString& fileName, bool clearEntries)
{
    std::unique_ptr<TUnicodeIniFile> ini;
    if (clearEntries) {
        // The old content is not needed; an unreadable old file is replaced.
        ini.reset(new TUnicodeIniFile(QString(), false));
        ini->d->fileName = fileName;
    } else {
        ini.reset(new TUnicodeIniFile(fileName, false));
    }
    if (clearEntries || !ini->ValueExists(kUnicodeSection, kEncodingKey))
        ini->WriteString(kUnicodeSection, kEncodingKey, kEncodingValue);
    return ini;
}

TUnicodeIniFile::~TUnicodeIniFile()
{
    if (d->readOnly || d->written || std::uncaught_exceptions() > d->uncaught)
        return;
    try {
        UpdateFile();
    } catch (const std::exception&) {
        // Callers that report write errors call UpdateFile themselves.
    }
}

void TUnicodeIniFile::UpdateFile()
{
    if (d->readOnly)
        return;
    d->written = true;
    const QString message = Format(U_("Error writing to \"%s\""), {d->fileName});
    QFileInfo info(d->fileName);
    // A settings file that was made read-only (no write permission for
    // anyone) is left alone, as it would be by writing into it in place.
    constexpr QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (info.exists() && (!info.isFile() || !info.isWritable() || !(info.permissions() & anyWrite)))
        throw EIniWriteError(message, 13);
    QSaveFile f(d->fileName);
    const QByteArray bytes = d->Serialise();
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        const int code = f.error() == QFileDevice::ResourceError ? 112 : 5;
        f.cancelWriting();
        throw EIniWriteError(message, code);
    }
}

QString TUnicodeIniFile::FileName() const
{
    return d->fileName;
}
bool TUnicodeIniFile::ReadOnly() const
{
    return d->readOnly;
}

QString TUnicodeIniFile::ReadString(
    const QString& section, const QString& key, const QString& defaultValue) const
{
    const Data::Section* s = d->Find(section);
    if (!s)
        return defaultValue;
    Data::Line* l = const_cast<Data::Section*>(s)->FindKey(key);
    return l ? l->value : defaultValue;
}

void TUnicodeIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    Data::Section& s = d->Ensure(section);
    // Values are stored trimmed, as they would be read back.
    const QString v = value.trimmed();
    if (Data::Line* l = s.FindKey(key)) {
        l->key = key;
        l->value = v;
    } else {
        s.Append(Data::Line {key, v, QString(), true});
    }
    d->written = false;
}

int TUnicodeIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    qint64 v;
    return ParseInteger(ReadString(section, key, QString()), 32, v) ? int(v) : defaultValue;
}

void TUnicodeIniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}

qint64 TUnicodeIniFile::ReadInt64(const QString& section, const QString& key, qint64 defaultValue) const
{
    qint64 v;
    return ParseInteger(ReadString(section, key, QString()), 64, v) ? v : defaultValue;
}

void TUnicodeIniFile::WriteInt64(const QString& section, const QString& key, qint64 value)
{
    WriteString(section, key, QString::number(value));
}

bool TUnicodeIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TUnicodeIniFile::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TUnicodeIniFile::SectionExists(const QString& section) const
{
    return d->Find(section) != nullptr;
}

bool TUnicodeIniFile::ValueExists(const QString& section, const QString& key) const
{
    const Data::Section* s = d->Find(section);
    return s && const_cast<Data::Section*>(s)->FindKey(key);
}

QStringList TUnicodeIniFile::ReadSection(const QString& section) const
{
    QStringList keys;
    if (const Data::Section* s = d->Find(section))
        for (const Data::Line& l : s->lines)
            if (l.isEntry)
                keys.append(l.key);
    return keys;
}

QStringList TUnicodeIniFile::ReadSections() const
{
    QStringList names;
    for (const Data::Section& s : d->sections)
        names.append(s.name);
    return names;
}

void TUnicodeIniFile::EraseSection(const QString& section)
{
    const QString f = Fold(section);
    std::erase_if(d->sections, [&](const Data::Section& s) { return Fold(s.name) == f; });
    d->Reindex();
    d->written = false;
}

void TUnicodeIniFile::EraseSectionValues(const QString& section)
{
    if (Data::Section* s = d->Find(section)) {
        s->lines.clear();
        s->keysValid = false;
    }
    d->written = false;
}

void TUnicodeIniFile::DeleteKey(const QString& section, const QString& key)
{
    Data::Section* s = d->Find(section);
    if (!s)
        return;
    if (Data::Line* l = s->FindKey(key)) {
        s->lines.erase(s->lines.begin() + (l - s->lines.data()));
        s->keysValid = false;
    }
    d->written = false;
}

void TUnicodeIniFile::WriteProgramInfo(const QString& key, const QString& value)
{
    WriteString(kUnicodeSection, key, value);
}

bool ReadIniBool(const QString& fileName, const QString& section, const QString& key, bool defaultValue)
{
    try {
        return TUnicodeIniFile::CreateForRead(fileName)->ReadBool(section, key, defaultValue);
    } catch (const EIniReadError&) {
        return defaultValue;
    }
}

} // namespace kes
