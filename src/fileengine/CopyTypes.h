// Types shared by the copy workers and the encryption layer: copy options,
// progress phases and callbacks, and the pause event.
#pragma once

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

// A set of the members of a small enumeration; each member's bit is its
// position.
template <typename E> class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members)
    {
        for (E m : members)
            FBits |= 1u << m;
    }
    constexpr bool Contains(E m) const { return FBits & (1u << m); }
    constexpr TEnumSet& Include(E m)
    {
        FBits |= 1u << m;
        return *this;
    }
    constexpr TEnumSet& Exclude(E m)
    {
        FBits &= ~(1u << m);
        return *this;
    }
    constexpr unsigned Bits() const { return FBits; }

private:
    unsigned FBits = 0;
};

using TCopyOptions = TEnumSet<TCopyOption>;

enum TShellCopyMode { scmCopy, scmQuiet };
using TShellCopyModes = TEnumSet<TShellCopyMode>;

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
