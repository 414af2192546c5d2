#include "fileengine/TestSeam.h"

#include <QByteArray>
#include <QMutex>
#include <QWaitCondition>
#include <cstdio>

namespace kes {

void TestPausePoint(const char* name)
{
    static const QByteArray wanted = qgetenv("KES_TEST_PAUSE_AT");
    if (wanted.isEmpty() || wanted != name)
        return;
    std::fprintf(stderr, "paused at %s\n", name);
    std::fflush(stderr);
    QMutex mutex;
    QWaitCondition never;
    QMutexLocker lock(&mutex);
    for (;;)
        never.wait(&mutex);
}

} // namespace kes
