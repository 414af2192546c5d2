// A chain of folders far beyond the system's path limit of 4,096 bytes:
// levels of long names below a temporary folder. Nothing is created here
// (creating them is what the tests test); the folder is removed with
// "rm -rf", which walks on descriptors where QDir cannot name what lies
// past the limit.
#pragma once

#include "common/TestSupport.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

namespace kestest {

class TDeepTree {
public:
    explicit TDeepTree(int levels = 60, int nameLength = 100)
        : FLevels(levels)
    {
        for (int i = 1; i <= levels; ++i) {
            QString name = QStringLiteral("level%1-").arg(i, 2, 10, QLatin1Char('0'));
            name += QString(nameLength - name.size(), QLatin1Char('a' + (i % 26)));
            FNames << name;
        }
    }
    ~TDeepTree()
    {
        if (FDir.isValid())
            Run(QStringLiteral("rm"), {QStringLiteral("-rf"), FDir.path()});
    }
    TDeepTree(const TDeepTree&) = delete;
    TDeepTree& operator=(const TDeepTree&) = delete;

    QString Root() const { return FDir.path(); }
    // The name of level n (1 = right below the root).
    QString Name(int n) const { return FNames[n - 1]; }
    // The folder n levels below the root (0 = the root).
    QString Level(int n) const { return Below(Root(), 1, n); }
    QString Deepest() const { return Level(FLevels); }
    int Levels() const { return FLevels; }
    // base + the names of levels from..to, joined with "/".
    QString Below(const QString& base, int from, int to) const
    {
        QString path = base;
        for (int i = from; i <= to; ++i)
            path += QLatin1Char('/') + FNames[i - 1];
        return path;
    }

private:
    QTemporaryDir FDir;
    QStringList FNames;
    int FLevels;
};

} // namespace kestest
