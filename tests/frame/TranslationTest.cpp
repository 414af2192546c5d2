// Translation: switching the language at run time with the compiled
// catalogues of the build, the language chosen by Kesmo.cfg, and the
// catalogue check run on a small source tree of its own.
#include "frame/I18n.h"
#include "frame/StartUp.h"
#include "frame/UnicodeIniFile.h"
#include "frame/Version.h"

#include "common/TestSupport.h"
#include "frame/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kes;

namespace {

const char kHelpMissing[] = "Help is not available on this system!";

// Brings the process back to the language it had (gettext caches
// translations, so the environment alone is not enough).
class TranslationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_saved = qEnvironmentVariable("LANGUAGE");
        InitTranslation(QStringLiteral("selwand"));
    }
    void TearDown() override { SwitchLanguage(m_saved); }

private:
    QString m_saved;
};

} // namespace

TEST_F(TranslationTest, SwitchingTheLanguageAtRunTime)
{
    ASSERT_TRUE(QFile::exists(LocaleDir() + "/de/LC_MESSAGES/Units.mo")) << LocaleDir().toStdString();
    SwitchLanguage("de");
    EXPECT_EQ(U_(kHelpMissing), QString::fromUtf8("Die Hilfe ist auf diesem System nicht verf\xC3\xBCgbar!"));
    EXPECT_EQ(OrdinalText(11), "11. ");
    EXPECT_EQ(OrdinalText(0), "kein ");
    EXPECT_EQ(TrU(N_("Configure backup schedules")), "Sicherungszeitpl\u00e4ne konfigurieren");

    // The INI class's messages live in the same catalogue.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    try {
        TUnicodeIniFile::CreateForRead(dir.path());
        ADD_FAILURE() << "a folder was read";
    } catch (const EIniReadError& e) {
        EXPECT_TRUE(e.Message().startsWith("Die Datei")) << e.what();
    }

    SwitchLanguage("en");
    EXPECT_EQ(U_(kHelpMissing), kHelpMissing);
    EXPECT_EQ(OrdinalText(11), "11th ");
    SwitchLanguage("de");
    EXPECT_EQ(OrdinalText(2), "2. ");
    SwitchLanguage(""); // the locale again: C.UTF-8 under ctest
    EXPECT_EQ(OrdinalText(2), "2nd ");
    EXPECT_EQ(U_("a text without translation"), "a text without translation");
}

TEST_F(TranslationTest, KesmoCfgChoosesTheLanguage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::ScopedEnv env({{"XDG_CONFIG_HOME", dir.filePath("config")}, {"LC_ALL", "C.UTF-8"}});
    kestest::WriteBytes(
        dir.filePath("config/Kesmo6/Kesmo.cfg"), kestest::Utf16LeWithBom("[Language]\r\nLangID=de\r\n"));
    InitProgram(dir.filePath("bin/Selwand"), {});
    InitPaths("Kesmo6/", "Kesmo.cfg", {QStringLiteral("Units")});
    EXPECT_EQ(LanguageCode(), "de");
    EXPECT_EQ(OrdinalText(3), "3. ");

    InitProgram(dir.filePath("bin/Selwand"), {"/lang:en"});
    InitPaths("Kesmo6/", "Kesmo.cfg", {});
    EXPECT_EQ(LanguageCode(), "en");
    EXPECT_EQ(OrdinalText(3), "3rd ");
}

// The check of the catalogues, on a small tree: a text missing from the
// German catalogue, or left untranslated, fails it.
TEST(CatalogCheck, FailsWhenACatalogueMissesATextOfItsTemplate)
{
    for (const char* tool : {"cmake", "xgettext", "msgcmp"}) {
        if (!kestest::HaveTool(tool))
            KESTEST_SKIP_OR_FAIL(tool << " is not installed");
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kestest::WriteBytes(dir.filePath("src/frame/A.cpp"),
        "void f() { U_(\"Hello\"); N_(\"Table text\"); _(\"not this domain\"); }\n");
    kestest::WriteBytes(
        dir.filePath("src/watchdog/B.cpp"), "void g() { _(\"Watch\"); U_(\"not this one\"); }\n");
    const QByteArray header = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";
    const auto run = [&] {
        return kestest::Run("cmake",
            {"-DSRC=" + dir.path(), "-DOUT=" + dir.filePath("pot"),
                "-DXGETTEXT=" + QStandardPaths::findExecutable("xgettext"), "-P",
                QStringLiteral(KES_SOURCE_DIR) + "/po/CatalogCheck.cmake"});
    };

    kestest::WriteBytes(dir.filePath("po/Units/de.po"), header + "msgid \"Hello\"\nmsgstr \"Hallo\"\n");
    kestest::WriteBytes(dir.filePath("po/selwand/de.po"), header + "msgid \"Watch\"\nmsgstr \"Wache\"\n");
    kestest::ProcessResult r = run();
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("Table text")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("po/Units/de.po")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("po/selwand/de.po misses")) << r.err.toStdString();
    const QByteArray pot = kestest::ReadBytes(dir.filePath("pot/Units.pot"));
    EXPECT_TRUE(pot.contains("msgid \"Hello\"") && !pot.contains("not this")) << pot.toStdString();

    kestest::WriteBytes(dir.filePath("po/Units/de.po"),
        header
            + "msgid \"Hello\"\nmsgstr \"Hallo\"\n\n"
              "msgid \"Table text\"\nmsgstr \"\"\n");
    EXPECT_NE(run().exitCode, 0) << "an untranslated text counts as missing";

    kestest::WriteBytes(dir.filePath("po/Units/de.po"),
        header
            + "msgid \"Hello\"\nmsgstr \"Hallo\"\n\n"
              "msgid \"Table text\"\nmsgstr \"Tabellentext\"\n");
    r = run();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
}
