// Types shared by the copy workers and the encryption layer: copy options,
// progress phases and callbacks, and the pause event.
#pragma once

#include "frame/EnumSet.h"

#include <QMutex>
#include <QWaitCondition>
#include <functional>
#include <initializer_list>

namespace kes {

enum TCopyOption {
    coCompress,
    coZipCompress,
    coVerify,
    coOverwrite,
    coStorage,
    coAltStreams,
    coPermissions,
    coAttributes,
    coTimeStamp,
    coCreationTime,
    coCheckTime,
    coNoCache,
    coResetArchive,
};

using TCopyOptions = TEnumSet<TCopyOption, coResetArchive + 1>;

enum TShellCopyMode { scmCopy, scmQuiet };
using TShellCopyModes = TEnumSet<TShellCopyMode, scmQuiet + 1>;

// Progress phases.
enum TFileAction {
    acNone,
    acCopy,
    acCompress,
    acUnCompress,
    acEncrypt,
    acDecrypt,
    acVerify,
    acZipVerify,
    acAddVerify,
    acFtpWrite,
    acFtpRead,
    acScan,
    acZipCopy,
    acSegmentCopy,
    acPrepare,
};

// A negative count announces the number of bytes of the phase that begins;
// later calls pass the running count. The engine does nothing with the
// speed-limit flag.
using TFileProgressEvent = std::function<void(TFileAction AAction, bool ASpeedLimit, qint64 ACount)>;

// A manual-reset event, initially set. Wait returns at once while it is
// set and blocks while it is reset.
class TPauseEvent {
public:
    void Set()
    {
        QMutexLocker lock(&FMutex);
        FSet = true;
        FCond.wakeAll();
    }
    void Reset()
    {
        QMutexLocker lock(&FMutex);
        FSet = false;
    }
    void Wait()
    {
        QMutexLocker lock(&FMutex);
        while (!FSet)
            FCond.wait(&FMutex);
    }
    bool IsSet() const
    {
        QMutexLocker lock(&FMutex);
        return FSet;
    }

private:
    mutable QMutex FMutex;
    QWaitCondition FCond;
    bool FSet = true;
};

} // namespace kes
