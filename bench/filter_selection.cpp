// Names per second through the full selection test of a monitor task:
// an extension list, a file filter of ten masks, about a hundred
// sub-directory entries and a regular-expression directory filter, over one
// million relative names generated in memory. Counts the allocations made
// while the names are tested (the goal is none).
#include "watchdog/MonFilter.h"

#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

// Every heap allocation of the process - Qt's string data comes from
// malloc directly, operator new goes through it too - is counted by
// wrapping the C library's allocator.
namespace {
std::atomic<quint64> g_allocations {0};
}

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
void* memalign(size_t alignment, size_t size)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size)
{
    void* p = memalign(alignment, size);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}
void free(void* p)
{
    __libc_free(p);
}
}

namespace {

QStringList Words(const char* const* words, int n)
{
    QStringList list;
    for (int i = 0; i < n; ++i)
        list << QString::fromUtf8(words[i]);
    return list;
}

std::vector<QString> MakeNames(int count)
{
    static const char* const kDirs[] = {
        "src",
        "docs",
        "Projects",
        "2023",
        "2024",
        "Fotos",
        "Urlaub",
        "client-a",
        "client-b",
        "lib",
        "include",
        "test",
        "Rechnungen",
        "Briefe",
        "music",
        "Album 1",
        "build",
        "node_modules",
        ".git",
        "tmp",
        "Archiv",
        "old",
        "Scans",
        "Vertr\u00e4ge",
        "backup",
        "assets",
        "img",
        "css",
        "js",
        "reports",
        "Q1",
        "Q2",
        "Q3",
        "Q4",
        "drafts",
        "final",
        "shared",
        "private",
        "notes",
        "research",
        "__pycache__",
        "venv",
        "dist",
        "out",
        "Downloads",
        "Desktop",
        "Mail",
        "Kunden",
    };
    static const char* const kStems[]
        = {"report", "Rechnung", "IMG_", "notes", "main", "index", "Brief", "summary", "data", "budget",
            "scan", "draft", "photo", "readme", "~lock", ".#edit", "Thumbs", "setup", "util", "test"};
    static const char* const kExts[] = {"txt", "doc", "docx", "pdf", "jpg", "png", "c", "cpp", "h", "py",
        "xlsx", "odt", "tmp", "bak", "log", "mp3", "zip", "md", "html", ""};
    const QStringList dirs = Words(kDirs, int(std::size(kDirs)));
    const QStringList stems = Words(kStems, int(std::size(kStems)));
    const QStringList exts = Words(kExts, int(std::size(kExts)));
    QRandomGenerator rng(42);
    std::vector<QString> names;
    names.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        QString name;
        const int depth = int(rng.bounded(7));
        for (int d = 0; d < depth; ++d)
            name += dirs[int(rng.bounded(int(dirs.size())))] + u'/';
        name += stems[int(rng.bounded(int(stems.size())))] + QString::number(rng.bounded(5000));
        const QString& ext = exts[int(rng.bounded(int(exts.size())))];
        if (!ext.isEmpty())
            name += u'.' + ext;
        names.push_back(name);
    }
    return names;
}

void Configure(kes::TMonFilter& f)
{
    f.IncludeExts = false;
    f.ExtList.SetCommaText(
        QStringLiteral("tmp,bak,swp,part,crdownload,lock,o,obj,pyc,class,iso,vdi,vmdk,qcow2,"
                       "cache,temp,dmp,etl,log1,old"));
    f.FileFilter.SetMode(kes::fmExclude);
    f.FileFilter.SetFilter(
        QStringLiteral("~*|*.tmp|*.bak|Thumbs*|desktop.ini|*.sw[op]|.#*|*.part|*.crdownload|*~"));
    f.IncludeSubDirs = false;
    QStringList subDirs;
    for (int i = 0; i < 90; ++i)
        subDirs << QStringLiteral("Projects/client-%1/build").arg(i);
    subDirs << QStringLiteral("node_modules") << QStringLiteral("build") << QStringLiteral("dist")
            << QStringLiteral("out") << QStringLiteral("venv") << QStringLiteral("Downloads")
            << QStringLiteral("Desktop/tmp") << QStringLiteral("Archiv/old") << QStringLiteral("Mail/cache")
            << QStringLiteral("Scans/raw");
    f.SubDirList.Assign(subDirs);
    f.SubDirFilter.SetRegular(true);
    f.SubDirFilter.SetMode(kes::fmInclude);
    f.SubDirFilter.SetFilter(QStringLiteral("^(\\.git|\\.svn|__pycache__|\\.cache|tmp|temp)$"));
}

} // namespace

int main()
{
    constexpr int kNames = 1000000;
    const std::vector<QString> names = MakeNames(kNames);
    kes::TMonFilter filter;
    Configure(filter);
    kes::MatchesSelection(filter, names.front()); // prepares the sub-directory list once

    double best = 0;
    quint64 accepted = 0;
    quint64 allocations = 0;
    for (int round = 0; round < 3; ++round) {
        const quint64 before = g_allocations.load();
        const auto start = std::chrono::steady_clock::now();
        quint64 n = 0;
        for (const QString& name : names)
            n += kes::MatchesSelection(filter, name) ? 1 : 0;
        const auto stop = std::chrono::steady_clock::now();
        allocations += g_allocations.load() - before;
        accepted = n;
        const double seconds = std::chrono::duration<double>(stop - start).count();
        const double rate = kNames / seconds;
        std::printf("round %d: %.1f ms, %.2f million names/s\n", round + 1, seconds * 1000, rate / 1e6);
        if (rate > best)
            best = rate;
    }
    std::printf("names: %d, accepted: %llu\n", kNames, static_cast<unsigned long long>(accepted));
    std::printf("best: %.2f million names/s (goal: 2.00)\n", best / 1e6);
    std::printf("allocations while testing names: %llu\n", static_cast<unsigned long long>(allocations));
    return 0;
}
