// Path string rules for both styles, and the switch syntax.
#include "frame/PathRules.h"
#include "frame/Switches.h"

#include <gtest/gtest.h>

using namespace kes;

namespace {
constexpr PathStyle W = PathStyle::Windows;
constexpr PathStyle P = PathStyle::Posix;

const char* StyleName(PathStyle s)
{
    return s == W ? "windows" : "posix";
}
} // namespace

TEST(PathRules, JoiningFoldersAndNames)
{
    struct Case {
        PathStyle style;
        QString folder, name, ext;
        QString setDir, addPath, makePath;
    } cases[] = {
        // The Windows examples: MakePathName(C:\A, b, ini) and friends.
        {W, "C:\\A", "b", "ini", "C:\\A\\", "C:\\A\\b", "C:\\A\\b.ini"},
        {W, "C:\\A\\", "b.txt", ".ini", "C:\\A\\", "C:\\A\\b.txt", "C:\\A\\b.txt"},
        {W, "C:\\A", "D:\\x", "ini", "C:\\A\\", "C:\\A\\D:\\x", "D:\\x.ini"},
        {W, "", "b", "ini", "", "b", "b.ini"},
        {W, "C:\\A", "\\\\srv\\s\\x", "", "C:\\A\\", "C:\\A\\\\\\srv\\s\\x", "\\\\srv\\s\\x"},
        {W, "C:\\A", "", "ini", "C:\\A\\", "C:\\A", "C:\\A\\.ini"},
        {W, "C:\\A/", "b", "", "C:\\A/\\", "C:\\A/\\b", "C:\\A/\\b"},
        // Linux: "/" joins, absolute = begins with "/"; ":" and "\" are plain.
        {P, "/a", "b", "ini", "/a/", "/a/b", "/a/b.ini"},
        {P, "/a/", "b.txt", ".ini", "/a/", "/a/b.txt", "/a/b.txt"},
        {P, "/a", "/x", "ini", "/a/", "/a//x", "/x.ini"},
        {P, "", "b", "ini", "", "b", "b.ini"},
        {P, "/a", "c:x", "ini", "/a/", "/a/c:x", "/a/c:x.ini"},
        {P, "/a\\", "b", "", "/a\\/", "/a\\/b", "/a\\/b"},
        {P, "rel", "b", "", "rel/", "rel/b", "rel/b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(
            std::string(StyleName(c.style)) + " " + c.folder.toStdString() + " + " + c.name.toStdString());
        EXPECT_EQ(SetDirName(c.folder, c.style), c.setDir);
        EXPECT_EQ(AddPath(c.folder, c.name, c.style), c.addPath);
        EXPECT_EQ(MakePathName(c.folder, c.name, c.ext, c.style), c.makePath);
    }
    EXPECT_EQ(AddPath("/a", "", P), "/a");
}

TEST(PathRules, PartsOfAPath)
{
    struct Case {
        PathStyle style;
        QString path;
        QString fileName, filePath, withCfg;
    } cases[] = {
        {W, "C:\\Conf\\x.ini", "x.ini", "C:\\Conf\\", "C:\\Conf\\x.cfg"},
        {W, "D:x.ini", "x.ini", "D:", "D:x.cfg"},
        {W, "sub.d\\my", "my", "sub.d\\", "sub.d\\my.cfg"},
        {W, "a/b.ini", "a/b.ini", "", "a/b.cfg"},
        {W, "C:\\A\\", "", "C:\\A\\", "C:\\A\\.cfg"},
        {P, "/etc/conf/x.ini", "x.ini", "/etc/conf/", "/etc/conf/x.cfg"},
        {P, "sub.d/my", "my", "sub.d/", "sub.d/my.cfg"},
        {P, "a\\b.ini", "a\\b.ini", "", "a\\b.cfg"},
        {P, "x", "x", "", "x.cfg"},
        {P, "/x.tar.gz", "x.tar.gz", "/", "/x.tar.cfg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(StyleName(c.style)) + " " + c.path.toStdString());
        EXPECT_EQ(ExtractFileName(c.path, c.style), c.fileName);
        EXPECT_EQ(ExtractFilePath(c.path, c.style), c.filePath);
        EXPECT_EQ(ChangeFileExt(c.path, ".cfg", c.style), c.withCfg);
    }
}

TEST(PathRules, WindowsPathKinds)
{
    struct Case {
        QString path;
        bool drive, unc, longPrefix, relativeLocation, absoluteSwitch;
    } cases[] = {
        {"C:\\Users", true, false, false, false, true},
        {"c:", true, false, false, false, true},
        {"1:\\x", false, false, false, true, true},
        {"\\\\server\\share\\x", false, true, false, false, true},
        {"\\\\?\\C:\\very\\long", false, false, true, false, true},
        {"\\\\?\\UNC\\server\\share", false, false, true, false, true},
        {"\\\\.\\pipe\\x", false, false, false, false, true},
        {"\\root", false, false, false, false, true},
        {"Kesmo6\\", false, false, false, true, false},
        {"sub\\x:y", false, false, false, true, true},
        {"", false, false, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(HasDriveLetter(c.path), c.drive);
        EXPECT_EQ(IsUncPath(c.path), c.unc);
        EXPECT_EQ(HasLongPathPrefix(c.path), c.longPrefix);
        EXPECT_EQ(IsRelativeLocation(c.path, W), c.relativeLocation);
        EXPECT_EQ(IsAbsoluteSwitchPath(c.path, W), c.absoluteSwitch);
    }
    EXPECT_TRUE(IsRelativeLocation("Kesmo6/", P));
    EXPECT_FALSE(IsRelativeLocation("/etc", P));
    EXPECT_TRUE(IsAbsoluteSwitchPath("/etc/x.ini", P));
    EXPECT_FALSE(IsAbsoluteSwitchPath("C:\\x.ini", P));
}

TEST(PathRules, ExpandingAndComparingPaths)
{
    struct Case {
        PathStyle style;
        QString path, base, expanded;
    } cases[] = {
        {P, "sub/x", "/work", "/work/sub/x"},
        {P, "../up/./x", "/work/dir", "/work/up/x"},
        {P, "../../../x", "/a", "/x"},
        {P, "/abs//y/../z/", "/work", "/abs/z/"},
        {P, "", "/work/", "/work/"},
        {W, "sub\\x", "C:\\Work", "C:\\Work\\sub\\x"},
        {W, "..\\up\\", "C:\\Work", "C:\\up\\"},
        {W, "..\\..\\x", "C:\\", "C:\\x"},
        {W, "\\root\\x", "D:\\Work", "D:\\root\\x"},
        {W, "E:rel", "C:\\Work", "E:\\rel"},
        {W, "\\\\srv\\share\\a\\..\\..\\b", "C:\\", "\\\\srv\\share\\b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(StyleName(c.style)) + " " + c.path.toStdString());
        EXPECT_EQ(ExpandFileName(c.path, c.base, c.style), c.expanded);
    }
    EXPECT_TRUE(
        SameFileName("/Home/U/.config//Kesmo6/./Selwand.INI", "/home/u/.config/Kesmo6/selwand.ini", P));
    EXPECT_FALSE(SameFileName("/a/Selwand.ini", "/b/Selwand.ini", P));
    EXPECT_TRUE(SameFileName("C:\\A\\..\\B\\x.ini", "c:\\b\\X.INI", W));
}

TEST(Switches, MatchOptionAndReadOptionValue)
{
    struct Match {
        QString word, keyword;
        bool matches;
    } matches[] = {
        {"p", "portable", true},
        {"PORT", "portable", true},
        {"portable", "portable", true},
        {"portables", "portable", false},
        {"", "portable", true},
        {"x", "portable", false},
        {"Lang", "lang", true},
    };
    for (const Match& m : matches) {
        SCOPED_TRACE(m.word.toStdString());
        EXPECT_EQ(MatchOption(m.word, m.keyword), m.matches);
    }

    struct Value {
        QString argument, keyword;
        bool found;
        QString after;
    } values[] = {
        {"lang:fr", "lang", true, "fr"},
        {"l:french", "lang", true, "french"},
        {"LANG:de", "lang", true, "de"},
        {"lang", "lang", false, "lang"},
        {"language:de", "lang", false, "language:de"},
        {"ini:C:\\x.ini", "ini", true, "C:\\x.ini"},
        {"i:", "ini", true, ""},
        {"mode:full", "ini", false, "mode:full"},
    };
    for (const Value& v : values) {
        SCOPED_TRACE(v.argument.toStdString());
        QString arg = v.argument;
        EXPECT_EQ(ReadOptionValue(arg, v.keyword), v.found);
        EXPECT_EQ(arg, v.after);
    }

    QString word;
    EXPECT_TRUE(IsSwitch("/p", word));
    EXPECT_EQ(word, "p");
    EXPECT_TRUE(IsSwitch("-", word));
    EXPECT_EQ(word, "");
    EXPECT_FALSE(IsSwitch("plain", word));
    EXPECT_FALSE(IsSwitch("", word));
}

TEST(Switches, ReadNextIntConsumesOneNumber)
{
    struct Case {
        QString text;
        QChar separator;
        qint64 value;
        QString rest;
    } cases[] = {
        {"  12,34", ',', 12, "34"},
        {"34", ',', 34, ""},
        {"", ',', -1, ""},
        {"x,5", ',', -1, "5"},
        {"$1F;2", ';', 31, "2"},
        {"0x10", ',', 16, ""},
        {"0x", ',', -1, ""},
        {"-7,", ',', -7, ""},
        {"12 ,3", ',', -1, "3"},
        {"99999999999999999999,1", ',', -1, "1"},
        {"9223372036854775807", ',', 9223372036854775807LL, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        QString text = c.text;
        EXPECT_EQ(ReadNextInt(text, c.separator, -1), c.value);
        EXPECT_EQ(text, c.rest);
    }
}
