#include "frame/StartUp.h"

#include "frame/I18n.h"
#include "frame/ProgramPaths.h"
#include "frame/Switches.h"
#include "frame/UnicodeIniFile.h"
#include "platform/Environment.h"
#include "platform/FileName.h"
#include "platform/Paths.h"

#include <QDir>

#include <cstring>

namespace kes {

namespace {

struct TIdentity {
    QString ProgramDir;
    QString ProgramName;
    QString ConfigFileName;
    QString LanguageCode;
    QStringList Arguments;
};

TIdentity& State()
{
    static TIdentity identity;
    return identity;
}

QString ReadLangId(const QString& configFile)
{
    try {
        const auto ini = TUnicodeIniFile::CreateForRead(configFile);
        return ini->ReadString(QStringLiteral("Language"), QStringLiteral("LangID"), QString())
            .left(2)
            .toLower();
    } catch (const EIniReadError&) {
        return QString(); // unreadable: as if it were missing
    }
}

} // namespace

QString ProgramDir()
{
    return State().ProgramDir;
}

QString ProgramName()
{
    return State().ProgramName;
}

QString ConfigFileName()
{
    return State().ConfigFileName;
}

QString LanguageCode()
{
    return State().LanguageCode;
}

QStringList ProgramArguments()
{
    return State().Arguments;
}

void InitProgram(const QString& programFile, const QStringList& arguments)
{
    TIdentity& s = State();
    s.ProgramDir = ExtractFilePath(programFile);
    const QString name = ExtractFileName(programFile);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    s.ProgramName = dot > 0 ? name.left(dot) : name;
    s.ConfigFileName.clear();
    s.LanguageCode.clear();
    s.Arguments = arguments;
}

void InitProgram(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(platform::DecodeName(argv[i], qsizetype(std::strlen(argv[i]))));
    QString program = platform::ExecutablePath();
    if (program.isEmpty() && argc > 0)
        program = QDir::current().absoluteFilePath(
            platform::DecodeName(argv[0], qsizetype(std::strlen(argv[0]))));
    InitProgram(program, arguments);
}

TStartOptions EvaluateStartOptions(const QStringList& arguments, const QString& configFileName,
    const QString& programDir, const QString& currentFolder, PathStyle style)
{
    QString lang, ini;
    bool portable = false;
    for (const QString& argument : arguments) {
        QString word;
        if (!IsSwitch(argument, word))
            continue;
        if (ReadOptionValue(word, QStringLiteral("lang"))) {
            lang = word.left(2).toLower();
        } else if (ReadOptionValue(word, QStringLiteral("ini"))) {
            ini = ExpandEnvVars(word);
        } else if (MatchOption(word, QStringLiteral("portable"))) {
            portable = true;
            if (ini.isEmpty())
                ini = programDir;
        }
    }
    TStartOptions result {lang, configFileName};
    if (ini.isEmpty())
        return result;
    const QChar delim = PathDelimiter(style);
    if (ini.endsWith(delim)) {
        result.ConfigFileName = ini + ExtractFileName(configFileName, style);
        return result;
    }
    const QString fileName = portable
        ? ChangeFileExt(ExtractFileName(ini, style), QStringLiteral(".cfg"), style)
        : ExtractFileName(configFileName, style);
    const bool hasFolder = ini.contains(delim);
    QString folder;
    if (IsAbsoluteSwitchPath(ini, style))
        folder = ExtractFilePath(ini, style);
    else if (portable)
        folder = hasFolder ? SetDirName(programDir, style) + ExtractFilePath(ini, style) : programDir;
    else if (!hasFolder)
        folder = ExtractFilePath(configFileName, style);
    else
        folder = ExpandFileName(ExtractFilePath(ini, style), currentFolder, style);
    result.ConfigFileName = SetDirName(folder, style) + fileName;
    return result;
}

QString ReadStartOptions()
{
    TIdentity& s = State();
    const TStartOptions options
        = EvaluateStartOptions(s.Arguments, s.ConfigFileName, s.ProgramDir, QDir::currentPath());
    s.ConfigFileName = options.ConfigFileName;
    return options.Lang.isEmpty() ? ReadLangId(s.ConfigFileName) : options.Lang;
}

void InitPaths(const QString& location, const QString& fileName, const QStringList& domains)
{
    TIdentity& s = State();
    s.ConfigFileName = fileName.isEmpty() ? s.ProgramName + QStringLiteral(".cfg") : fileName;
    const QString folder = IsRelativeLocation(location)
        ? SetDirName(GetShellFolder(platform::kFolderAppData)) + location
        : location;
    s.ConfigFileName = SetDirName(folder) + s.ConfigFileName;
    for (const QString& domain : domains)
        BindTextDomain(domain);
    QString lang = ReadStartOptions();
    if (lang.isEmpty())
        lang = GetDefaultLanguage();
    s.LanguageCode = lang;
    SwitchLanguage(lang);
}

QString LanguageFromLocaleName(const QString& name)
{
    qsizetype end = 0;
    while (end < name.size() && name[end].isLetter())
        ++end;
    const QString code = name.left(end).toLower();
    const bool endsWell = end == name.size() || name[end] == QLatin1Char('_') || name[end] == QLatin1Char('.')
        || name[end] == QLatin1Char('@');
    return code.size() == 2 && endsWell ? code : QStringLiteral("en");
}

QString GetDefaultLanguage()
{
    // gettext's order; LANGUAGE may list several languages.
    for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = platform::GetEnvironmentValue(QLatin1String(variable));
        const QString first = value.section(QLatin1Char(':'), 0, 0);
        if (!first.isEmpty())
            return LanguageFromLocaleName(first);
    }
    return QStringLiteral("en");
}

QString LanguageFromWindowsLangId(quint32 langId)
{
    static const struct {
        quint16 Primary;
        char Code[3];
    } table[] = {
        {0x01, "ar"},
        {0x02, "bg"},
        {0x03, "ca"},
        {0x04, "zh"},
        {0x05, "cs"},
        {0x06, "da"},
        {0x07, "de"},
        {0x08, "el"},
        {0x09, "en"},
        {0x0A, "es"},
        {0x0B, "fi"},
        {0x0C, "fr"},
        {0x0E, "hu"},
        {0x0F, "is"},
        {0x10, "it"},
        {0x11, "ja"},
        {0x12, "ko"},
        {0x13, "nl"},
        {0x14, "no"},
        {0x15, "pl"},
        {0x16, "pt"},
        {0x17, "rm"},
        {0x18, "ro"},
        {0x19, "ru"},
        {0x1A, "hr"},
        {0x1B, "sk"},
        {0x1C, "sq"},
        {0x1D, "sv"},
        {0x1E, "th"},
        {0x1F, "tr"},
        {0x20, "ur"},
        {0x21, "id"},
        {0x22, "uk"},
        {0x23, "be"},
        {0x24, "sl"},
        {0x25, "et"},
        {0x26, "lv"},
        {0x27, "lt"},
        {0x29, "fa"},
        {0x2A, "vi"},
        {0x2B, "hy"},
        {0x2F, "mk"},
        {0x30, "st"},
        {0x33, "ve"},
        {0x34, "xh"},
        {0x35, "zu"},
        {0x36, "af"},
        {0x37, "ka"},
        {0x38, "fo"},
        {0x39, "hi"},
        {0x3A, "mt"},
        {0x3B, "se"},
        {0x3C, "ga"},
        {0x3F, "kk"},
        {0x40, "ky"},
        {0x41, "sw"},
        {0x42, "tk"},
        {0x43, "uz"},
        {0x44, "tt"},
        {0x46, "pa"},
        {0x48, "or"},
        {0x49, "ta"},
        {0x4F, "sa"},
        {0x50, "mn"},
        {0x51, "bo"},
        {0x52, "cy"},
        {0x54, "lo"},
        {0x56, "gl"},
        {0x61, "ne"},
        {0x62, "fy"},
        {0x63, "ps"},
        {0x6A, "yo"},
        {0x6E, "lb"},
        {0x72, "om"},
        {0x77, "so"},
        {0x78, "ii"},
        {0x80, "ug"},
        {0x81, "mi"},
        {0x83, "co"},
        {0x88, "wo"},
        {0x91, "gd"},
        {0x92, "ku"},
    };
    const quint32 primary = langId & 0x3FF;
    for (const auto& entry : table) {
        if (entry.Primary == primary)
            return QLatin1String(entry.Code);
    }
    return QStringLiteral("en");
}

void StartProgramFrame(int argc, char** argv, const QString& programDomain)
{
    InitProgram(argc, argv);
    InitTranslation(programDomain);
    InitPaths(GetIniPath(QStringLiteral("Kesmo6") + PathDelimiter()), QStringLiteral("Kesmo.cfg"),
        {QString::fromLatin1(kUnitsDomain)});
}

} // namespace kes
