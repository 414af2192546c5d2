#include "watchdog/MonFilter.h"
#include "watchdog/MonTask.h"

#include <gtest/gtest.h>

using kes::MatchesSelection;
using kes::TMonFilter;

namespace {

struct Expect {
    const char16_t* name;
    bool selected;
};

void CheckAll(const TMonFilter& f, std::initializer_list<Expect> cases)
{
    for (const Expect& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.name).toStdString());
        EXPECT_EQ(MatchesSelection(f, QStringView(c.name)), c.selected);
    }
}

// The state a monitor task's filter has after reading a task file that
// selects all file types.
void AllTypes(TMonFilter& f)
{
    f.IncludeExts = false;
    f.ExtList.Clear();
}

} // namespace

TEST(Selection, FileTypes)
{
    TMonFilter f;
    f.IncludeExts = true;
    // An empty list of included types selects nothing.
    CheckAll(f, {{u"a.txt", false}, {u"Makefile", false}});

    f.ExtList.SetCommaText(QStringLiteral("txt,DOC"));
    CheckAll(f,
        {{u"a.txt", true}, {u"sub/b.Doc", true}, {u"a.txt.bak", false}, {u"Makefile", false},
            {u"x.y/readme", false}, {u"file.", false}});

    f.IncludeExts = false;
    f.ExtList.SetCommaText(QStringLiteral("tmp,bak"));
    CheckAll(f, {{u"a.TMP", false}, {u"a.tmp.txt", true}, {u"Makefile", true}, {u"dir.tmp/a.txt", true}});
}

TEST(Selection, FileFilterSeesOnlyTheNamePart)
{
    TMonFilter f;
    AllTypes(f);
    f.FileFilter.SetMode(kes::fmExclude);
    f.FileFilter.SetFilter(QStringLiteral("~*|*."));
    CheckAll(f,
        {{u"~a.doc", false}, {u"sub/~a.doc", false}, {u"~sub/a.doc", true}, {u"Makefile", false},
            {u"src/Makefile", false}, {u"a.doc", true}});
}

TEST(Selection, SubDirectoryList)
{
    TMonFilter f;
    AllTypes(f);
    f.SubDirList.Assign({"docs", "src/lib/", "b?ild", "[!x]tmp"});

    f.IncludeSubDirs = true;
    CheckAll(f,
        {
            {u"a.txt", false}, // files directly in the directory are never selected
            {u"docs/a.txt", true},
            {u"DOCS/x/y.txt", true},
            {u"docsold/a.txt", true}, // an entry also selects names that begin with it
            {u"src/lib/a.c", true},
            {u"src/libx/a.c", false},
            {u"src/a.c", false},
            {u"x/docs/a.txt", false},
            {u"build/o.o", true},
            {u"BUILD/o.o", true},
            {u"atmp/a", true},
            {u"xtmp/a", false},
        });
    f.IncludeSubDirs = false;
    CheckAll(f, {{u"a.txt", true}, {u"docs/a.txt", false}, {u"src/a.c", true}, {u"xtmp/a", true}});

    // The list is prepared for matching once; a changed list is seen.
    f.IncludeSubDirs = true;
    EXPECT_FALSE(MatchesSelection(f, u"other/a.txt"));
    f.SubDirList.Add(QStringLiteral("OTHER"));
    EXPECT_TRUE(MatchesSelection(f, u"other/a.txt"));
    f.SubDirList.Remove(u"docs");
    EXPECT_FALSE(MatchesSelection(f, u"docs/a.txt"));
    f.SubDirList.Clear();
    EXPECT_TRUE(MatchesSelection(f, u"a.txt"));
}

TEST(Selection, PrefixEntriesOverlapping)
{
    // Entries that are prefixes of each other and of non-matching names.
    TMonFilter f;
    AllTypes(f);
    f.IncludeSubDirs = true;
    f.SubDirList.Assign({"a/b", "a/a", "a/bc/d", "ab", "\u00e4/", "z"});
    CheckAll(f,
        {{u"a/b/x", true}, {u"a/bc/x", true}, {u"a/c/x", false}, {u"a/x", false}, {u"A/A/x", true},
            {u"ab/x", true}, {u"\u00e4/x", true}, {u"\u00c4/x", false}, {u"y/x", false}, {u"zz/x", true}});
}

TEST(Selection, DirectoryFilter)
{
    TMonFilter f;
    AllTypes(f);
    f.SubDirFilter.SetRegular(true);
    f.SubDirFilter.SetMode(kes::fmInclude);
    f.SubDirFilter.SetFilter(QStringLiteral("^(temp|cache)$"));

    f.IncludeSubDirs = false;
    CheckAll(f,
        {{u"a.txt", true}, {u"temp/a.txt", false}, {u"x/Cache/y/a.txt", false}, {u"tempo/a.txt", true},
            {u"x/temp.txt", true}});
    f.IncludeSubDirs = true;
    CheckAll(f, {{u"a.txt", false}, {u"temp/a.txt", true}, {u"x/y/a.txt", false}});

    // Masks on single directory names.
    f.SubDirFilter.SetRegular(false);
    f.SubDirFilter.SetFilter(QStringLiteral("#x|.*"));
    f.IncludeSubDirs = false;
    CheckAll(f, {{u"#x/a", false}, {u"p/.git/a", false}, {u"p/q/a", true}});
}

TEST(Selection, AllFiltersTogether)
{
    TMonFilter f;
    f.IncludeExts = false;
    f.ExtList.SetCommaText(QStringLiteral("tmp"));
    f.FileFilter.SetMode(kes::fmInclude);
    f.FileFilter.SetFilter(QStringLiteral("*.doc|*.txt"));
    f.IncludeSubDirs = false;
    f.SubDirList.Assign({"private"});
    f.SubDirFilter.SetMode(kes::fmInclude);
    f.SubDirFilter.SetFilter(QStringLiteral("old*"));
    CheckAll(f,
        {{u"a.doc", true}, {u"work/b.txt", true}, {u"work/b.tmp", false}, {u"work/b.pdf", false},
            {u"private/b.txt", false}, {u"work/older/b.txt", false}});
}

TEST(MonTask, CreatedStateAndRunStatus)
{
    kes::TMonTask task(QStringLiteral("/jobs/a.buj"), QStringLiteral("/data"));
    EXPECT_EQ(task.MonStatus, kes::mtEnabled);
    EXPECT_EQ(task.BuTask, QStringLiteral("/jobs/a.buj"));
    EXPECT_EQ(task.Dir, QStringLiteral("/data"));
    EXPECT_TRUE(task.FileList.IsEmpty());
    EXPECT_TRUE(task.MonFilter.FileFilter.IsFileFilter());
    EXPECT_FALSE(task.MonFilter.SubDirFilter.IsFileFilter());
    EXPECT_FALSE(task.MonFilter.IncludeExts);
    EXPECT_FALSE(task.MonFilter.IncludeSubDirs);
    EXPECT_EQ(task.Watches.Bits(), 0x5Bu);

    // The watcher and the backup thread are only recorded here.
    int watcher = 0, thread = 0;
    EXPECT_EQ(task.GetRunStatus(), kes::rsOff);
    task.BuThread = reinterpret_cast<kes::TBackupThread*>(&thread);
    EXPECT_EQ(task.GetRunStatus(), kes::rsOff);
    task.DirWatch = reinterpret_cast<kes::TDirectoryWatch*>(&watcher);
    EXPECT_EQ(task.GetRunStatus(), kes::rsBackup);
    task.BuThread = nullptr;
    EXPECT_EQ(task.GetRunStatus(), kes::rsWatch);
    task.DirWatch = nullptr;
}

TEST(FilterDialog, TextsFollowTheFlags)
{
    TMonFilter f;
    f.IncludeSubDirs = true;
    f.IncludeExts = false;
    f.SubDirList.Assign({"b", "a"});
    f.ExtList.SetCommaText(QStringLiteral("tmp,bak"));
    f.SubDirFilter.SetMode(kes::fmInclude);
    f.SubDirFilter.SetFilter(QStringLiteral("x|y"));
    f.FileFilter.SetMode(kes::fmExclude);
    f.FileFilter.SetFilter(QStringLiteral("*.log|~*"));
    kes::TFilterDialogTexts t = kes::FilterDialogTexts(f);
    EXPECT_EQ(t.Caption, QStringLiteral("Selection for subdirectories and files"));
    EXPECT_EQ(t.SubDirListLabel, QStringLiteral("included in this list"));
    EXPECT_EQ(t.DirFilterLabel, QStringLiteral("matching these filter conditions"));
    EXPECT_EQ(t.SubDirs, (QStringList {"a", "b"}));
    EXPECT_EQ(t.DirFilterItems, (QStringList {"x", "y"}));
    EXPECT_EQ(t.ExtLabel, QStringLiteral("not matching these file types"));
    EXPECT_EQ(t.Exts, (QStringList {"bak", "tmp"}));
    EXPECT_FALSE(t.ShowRegularLabel);
    EXPECT_EQ(t.FileFilterLines, (QStringList {"all except :", "*.log", "~*.*"}));

    f.IncludeSubDirs = false;
    f.FileFilter.SetMode(kes::fmOff);
    f.FileFilter.SetRegular(true);
    t = kes::FilterDialogTexts(f);
    EXPECT_EQ(t.SubDirListLabel, QStringLiteral("not included in this list"));
    EXPECT_EQ(t.DirFilterLabel, QStringLiteral("not matching these filter conditions"));
    EXPECT_TRUE(t.ShowRegularLabel);
    EXPECT_EQ(t.FileFilterLines, (QStringList {"All files"}));
}
