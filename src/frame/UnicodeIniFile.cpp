#include "frame/UnicodeIniFile.h"

#include "frame/Format.h"
#include "frame/I18n.h"

#include "platform/ErrorText.h"
#include "platform/SettingsFile.h"

#include <QHash>
#include <QStringDecoder>

#include <cerrno>
#include <exception>
#include <vector>

namespace kes {

namespace {

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
    , FErrorCode(errorCode)
{
}

struct TUnicodeIniFile::Data {
    struct Line {
        QString Key; // trimmed key of an entry
        QString Value; // trimmed value of an entry
        QString Raw; // the whole line when it holds no "="
        bool IsEntry = true;
    };
    struct Section {
        QString Name;
        std::vector<Line> Lines;
        // Folded key -> index of its first entry. Pending lists and task
        // files can hold very many keys; look-ups must not be linear.
        QHash<QString, qsizetype> Keys;
        bool KeysValid = false;

        void Index()
        {
            Keys.clear();
            // Walk backwards so that the first occurrence of a key wins.
            for (qsizetype i = qsizetype(Lines.size()) - 1; i >= 0; --i)
                if (Lines[size_t(i)].IsEntry)
                    Keys.insert(Fold(Lines[size_t(i)].Key), i);
            KeysValid = true;
        }
        Line* FindKey(const QString& key)
        {
            if (!KeysValid)
                Index();
            auto it = Keys.constFind(Fold(key));
            return it == Keys.constEnd() ? nullptr : &Lines[size_t(*it)];
        }
        void Append(Line line)
        {
            if (KeysValid && line.IsEntry) {
                const QString f = Fold(line.Key);
                if (!Keys.contains(f))
                    Keys.insert(f, qsizetype(Lines.size()));
            }
            Lines.push_back(std::move(line));
        }
    };

    QString FFileName;
    bool FReadOnly = true;
    bool FWritten = false;
    int FUncaught = 0;
    std::vector<Section> FSections;
    QHash<QString, qsizetype> FSectionIndex; // folded name -> index in FSections

    void Reindex()
    {
        FSectionIndex.clear();
        for (qsizetype i = qsizetype(FSections.size()) - 1; i >= 0; --i)
            FSectionIndex.insert(Fold(FSections[size_t(i)].Name), i);
    }

    Section* Find(const QString& name)
    {
        auto it = FSectionIndex.constFind(Fold(name));
        return it == FSectionIndex.constEnd() ? nullptr : &FSections[size_t(*it)];
    }
    const Section* Find(const QString& name) const { return const_cast<Data*>(this)->Find(name); }

    Section& Ensure(const QString& name)
    {
        if (Section* s = Find(name))
            return *s;
        FSectionIndex.insert(Fold(name), qsizetype(FSections.size()));
        FSections.push_back(Section {name, {}, {}, false});
        return FSections.back();
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
                current = &section - FSections.data();
                continue;
            }
            if (current < 0)
                continue;
            Line l;
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq < 0) {
                l.IsEntry = false;
                l.Raw = line;
            } else {
                l.Key = line.left(eq).trimmed();
                l.Value = line.mid(eq + 1).trimmed();
            }
            FSections[size_t(current)].Lines.push_back(std::move(l));
        }
    }

    QByteArray Serialise() const
    {
        QString text;
        for (const Section& s : FSections) {
            text += QLatin1Char('[') + s.Name + QStringLiteral("]\r\n");
            for (const Line& l : s.Lines) {
                if (l.IsEntry)
                    text += l.Key + QLatin1Char('=') + l.Value;
                else
                    text += l.Raw;
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
    : FData(std::make_unique<Data>())
{
    FData->FFileName = fileName;
    FData->FReadOnly = readOnly;
    FData->FUncaught = std::uncaught_exceptions();
    if (fileName.isEmpty())
        return;
    // Only regular files are read, and never more than the limit: a FIFO
    // or device named as a settings file would hang or flood the program.
    platform::TSettingsRead file = platform::ReadSettingsFile(fileName, kMaxIniFileSize);
    QString reason;
    switch (file.Result) {
    case platform::TSettingsReadResult::srOk:
        FData->Parse(DecodeFile(file.Bytes));
        return;
    case platform::TSettingsReadResult::srMissing:
        return;
    case platform::TSettingsReadResult::srFolder:
        reason = U_("It is a folder.");
        break;
    case platform::TSettingsReadResult::srNotRegular:
        reason = U_("It is not a regular file.");
        break;
    case platform::TSettingsReadResult::srTooLarge:
        reason = SafeFormat(U_("The file is larger than %d MiB."), {int(kMaxIniFileSize >> 20)});
        break;
    case platform::TSettingsReadResult::srFailed:
        reason = platform::SystemErrorText(file.Error);
        break;
    }
    throw EIniReadError(SafeFormat(U_("Cannot open file \"%s\". %s"), {fileName, reason}));
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
        ini->FData->FFileName = fileName;
    } else {
        ini.reset(new TUnicodeIniFile(fileName, false));
    }
    if (clearEntries || !ini->ValueExists(kUnicodeSection, kEncodingKey))
        ini->WriteString(kUnicodeSection, kEncodingKey, kEncodingValue);
    return ini;
}

TUnicodeIniFile::~TUnicodeIniFile()
{
    if (FData->FReadOnly || FData->FWritten || std::uncaught_exceptions() > FData->FUncaught)
        return;
    try {
        UpdateFile();
    } catch (const std::exception&) {
        // Callers that report write errors call UpdateFile themselves.
    }
}

void TUnicodeIniFile::UpdateFile()
{
    if (FData->FReadOnly)
        return;
    FData->FWritten = true;
    const QByteArray bytes = FData->Serialise();
    // Nothing is written that could not be read back (kMaxIniFileSize).
    const int rc
        = bytes.size() > kMaxIniFileSize ? EFBIG : platform::ReplaceSettingsFile(FData->FFileName, bytes);
    if (rc != 0)
        throw EIniWriteError(SafeFormat(U_("Error writing to \"%s\""), {FData->FFileName}), rc);
}

QString TUnicodeIniFile::FileName() const
{
    return FData->FFileName;
}
bool TUnicodeIniFile::ReadOnly() const
{
    return FData->FReadOnly;
}

QString TUnicodeIniFile::ReadString(
    const QString& section, const QString& key, const QString& defaultValue) const
{
    const Data::Section* s = FData->Find(section);
    if (!s)
        return defaultValue;
    Data::Line* l = const_cast<Data::Section*>(s)->FindKey(key);
    return l ? l->Value : defaultValue;
}

void TUnicodeIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    Data::Section& s = FData->Ensure(section);
    // Values are stored trimmed, as they would be read back.
    const QString v = value.trimmed();
    if (Data::Line* l = s.FindKey(key)) {
        l->Key = key;
        l->Value = v;
    } else {
        s.Append(Data::Line {key, v, QString(), true});
    }
    FData->FWritten = false;
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
    return FData->Find(section) != nullptr;
}

bool TUnicodeIniFile::ValueExists(const QString& section, const QString& key) const
{
    const Data::Section* s = FData->Find(section);
    return s && const_cast<Data::Section*>(s)->FindKey(key);
}

QStringList TUnicodeIniFile::ReadSection(const QString& section) const
{
    QStringList keys;
    if (const Data::Section* s = FData->Find(section))
        for (const Data::Line& l : s->Lines)
            if (l.IsEntry)
                keys.append(l.Key);
    return keys;
}

QStringList TUnicodeIniFile::ReadSections() const
{
    QStringList names;
    for (const Data::Section& s : FData->FSections)
        names.append(s.Name);
    return names;
}

void TUnicodeIniFile::EraseSection(const QString& section)
{
    const QString f = Fold(section);
    std::erase_if(FData->FSections, [&](const Data::Section& s) { return Fold(s.Name) == f; });
    FData->Reindex();
    FData->FWritten = false;
}

void TUnicodeIniFile::EraseSectionValues(const QString& section)
{
    if (Data::Section* s = FData->Find(section)) {
        s->Lines.clear();
        s->KeysValid = false;
    }
    FData->FWritten = false;
}

void TUnicodeIniFile::DeleteKey(const QString& section, const QString& key)
{
    Data::Section* s = FData->Find(section);
    if (!s)
        return;
    if (Data::Line* l = s->FindKey(key)) {
        s->Lines.erase(s->Lines.begin() + (l - s->Lines.data()));
        s->KeysValid = false;
    }
    FData->FWritten = false;
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
