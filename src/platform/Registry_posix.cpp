#include "platform/Registry.h"

#include "platform/Paths.h"
#include "platform/SettingsFile.h"

#include <QStringDecoder>

namespace kes::platform {

namespace {

constexpr qint64 kMaxFileSize = 1 << 20; // a registry stand-in is a few lines
const QLatin1String kFolder("/Kestrup6/registry.ini");

QString DecodeText(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringDecoder::Utf16LE).decode(bytes.mid(2));
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.mid(2));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    return QString::fromUtf8(bytes);
}

// Returns true when the file holds the value (which may be empty).
bool FindValue(const QString& fileName, const QString& key, const QString& valueName, QString& value)
{
    // Only a regular file is read: a FIFO there must not hang the start.
    const TSettingsRead file = ReadSettingsFile(fileName, kMaxFileSize);
    if (file.Result != TSettingsReadResult::srOk)
        return false;
    const QString text = DecodeText(file.Bytes);
    bool inKey = false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inKey = line.mid(1, line.size() - 2).trimmed().compare(key, Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inKey && eq > 0 && line.left(eq).trimmed().compare(valueName, Qt::CaseInsensitive) == 0) {
            value = line.mid(eq + 1).trimmed();
            return true;
        }
    }
    return false;
}

} // namespace

QStringList RegistryFiles(RegistryRoot root)
{
    QStringList files;
    if (root == RegistryRoot::CurrentUser) {
        const QString config = ShellFolderPath(kFolderAppData);
        if (!config.isEmpty())
            files.append(config + kFolder);
    } else {
        const QStringList dirs = SystemConfigFolders();
        for (const QString& dir : dirs)
            files.append(dir + kFolder);
    }
    return files;
}

QString ReadRegistryString(RegistryRoot root, const QString& key, const QString& valueName, RegistryView view)
{
    if (view == RegistryView::Alternate)
        return QString();
    const QStringList files = RegistryFiles(root);
    for (const QString& file : files) {
        QString value;
        if (FindValue(file, key, valueName, value))
            return value;
    }
    return QString();
}

} // namespace kes::platform
