// Throughput of the file transfer engine (scripts/bench-engine.sh runs it
// beside cp, gzip, pigz, zip and 7z).
//
//   bench_engine make-data FILE BYTES   half text-like, half random bytes
//   bench_engine run FILE WORKDIR [N]   best of N runs of every operation
//
// Prints one line per operation: name, MB/s of source bytes (1 MB = 10^6).
#include "fileengine/AesLib.h"
#include "fileengine/CopyErrors.h"
#include "fileengine/CopyThread.h"
#include "fileengine/ZStreams.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>
#include <cstdio>

using namespace kes;

namespace {

// A stream that only counts what is written to it.
class TNullStream : public TStream {
public:
    int Read(void*, qint64, qint64& done) override
    {
        done = 0;
        return 0;
    }
    int Write(const void*, qint64 count, qint64& done) override
    {
        done = count;
        FPos += count;
        return 0;
    }
    int Seek(qint64 position) override
    {
        FPos = position;
        return 0;
    }
    qint64 Position() const override { return FPos; }
    qint64 Size() const override { return FPos; }
    int Truncate() override { return 0; }

private:
    qint64 FPos = 0;
};

int MakeData(const QString& path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    QRandomGenerator rng(1);
    static const char* words[] = {"backup ", "copy ", "the ", "file ", "of ", "data\n", "zip ", "2025 ",
        "Kestrup ", "monitor ", "schedule ", "rotation\n"};
    QByteArray chunk;
    qint64 written = 0;
    while (written < size / 2) {
        chunk.clear();
        while (chunk.size() < (1 << 20))
            chunk.append(words[rng.bounded(12)]);
        chunk.truncate(qMin<qint64>(chunk.size(), size / 2 - written));
        written += f.write(chunk);
    }
    while (written < size) {
        chunk.resize(qMin<qint64>(1 << 20, size - written));
        rng.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
        written += f.write(chunk);
    }
    return 0;
}

double MBps(qint64 bytes, qint64 ns)
{
    return ns > 0 ? double(bytes) * 1000.0 / double(ns) : 0.0;
}

// Best of n runs of a worker operation.
double TimeWorker(
    const QString& src, const QString& dst, TCopyOptions options, TEncryption* enc, int n, int threads)
{
    const qint64 size = QFileInfo(src).size();
    qint64 best = 0;
    for (int i = 0; i < n; ++i) {
        QFile::remove(dst);
        QElapsedTimer t;
        t.start();
        TWinCopyThread worker(src, dst, enc, options, true, 0x80000);
        if (threads > 0)
            worker.SetDeflateThreads(threads);
        worker.Start();
        while (!worker.Done())
            QThread::msleep(1);
        const qint64 ns = t.nsecsElapsed();
        if (worker.ErrorCode() != 0) {
            std::fprintf(
                stderr, "%s\n", qPrintable(CopyErrorText(worker.ErrorCode(), dst, worker.SysErrorMsg())));
            return 0;
        }
        if (best == 0 || ns < best)
            best = ns;
    }
    return MBps(size, best);
}

template <class F> double TimeInMemory(qint64 bytes, int n, F f)
{
    qint64 best = 0;
    for (int i = 0; i < n; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        const qint64 ns = t.nsecsElapsed();
        if (best == 0 || ns < best)
            best = ns;
    }
    return MBps(bytes, best);
}

int Run(const QString& src, const QString& work, int n)
{
    QDir().mkpath(work);
    const QString dst = QDir(work).filePath(QStringLiteral("engine.out"));
    struct Op {
        const char* name;
        TCopyOptions options;
        bool encrypted;
        int threads = 0; // 0: the worker's default
    } ops[] = {
        {"plain copy", {coOverwrite, coAttributes, coTimeStamp}, false},
        {"plain copy + verify", {coOverwrite, coAttributes, coTimeStamp, coVerify}, false},
        {"gzip default", {coOverwrite, coAttributes, coTimeStamp, coCompress}, false},
        {"gzip default + verify", {coOverwrite, coAttributes, coTimeStamp, coCompress, coVerify}, false},
        {"gzip default, one thread", {coOverwrite, coAttributes, coTimeStamp, coCompress}, false, 1},
        {"zip one entry", {coOverwrite, coAttributes, coTimeStamp, coZipCompress, coCompress}, false},
        {"zip one entry + verify",
            {coOverwrite, coAttributes, coTimeStamp, coZipCompress, coCompress, coVerify}, false},
        {"zip AES-256", {coOverwrite, coAttributes, coTimeStamp, coZipCompress, coCompress}, true},
        {"zip AES-256 + verify",
            {coOverwrite, coAttributes, coTimeStamp, coZipCompress, coCompress, coVerify}, true},
    };
    for (const Op& op : ops) {
        TEncryption enc("benchmark password", 3, 0x80000);
        const double v = TimeWorker(src, dst, op.options, op.encrypted ? &enc : nullptr, n, op.threads);
        std::printf("%-28s %10.1f MB/s\n", op.name, v);
        std::fflush(stdout);
    }
    QFile::remove(dst);

    // The primitives over memory.
    QFile f(src);
    if (!f.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray data = f.read(64 << 20);
    const double deflate = TimeInMemory(data.size(), n, [&] {
        TNullStream sink;
        TDeflateWriter w(sink, zcDefault);
        w.Write(data.constData(), data.size());
        w.Finish();
    });
    std::printf("%-28s %10.1f MB/s\n", "zlib deflate -6 (memory)", deflate);
    const double deflate2 = TimeInMemory(data.size(), n, [&] {
        TNullStream sink;
        TDeflateWriter w(sink, zcDefault, 2);
        w.Write(data.constData(), data.size());
        w.Finish();
    });
    std::printf("%-28s %10.1f MB/s\n", "deflate -6, 2 threads (mem.)", deflate2);
    const double aes = TimeInMemory(data.size(), n, [&] {
        TEncryption enc("benchmark password", 3, 0x80000);
        TMemoryStream in(data);
        TNullStream sink;
        enc.EncryptStream(in, sink, false);
    });
    std::printf("%-28s %10.1f MB/s\n", "AES-256-CTR + HMAC (memory)", aes);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == u"make-data")
        return MakeData(args[2], args[3].toLongLong());
    if ((args.size() == 4 || args.size() == 5) && args[1] == u"run")
        return Run(args[2], args[3], args.size() == 5 ? qMax(1, args[4].toInt()) : 3);
    std::fprintf(stderr, "usage: bench_engine make-data FILE BYTES | run FILE WORKDIR [N]\n");
    return 2;
}
