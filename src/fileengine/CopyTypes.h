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

// A set of TCopyOption; each member's bit is its position.
class TCopyOptions {
public:
    constexpr TCopyOptions() = default;
    constexpr TCopyOptions(std::initializer_list<TCopyOption> options)
    {
        for (TCopyOption o : options)
            FBits |= 1u << o;
    }
    constexpr bool Contains(TCopyOption o) const { return FBits & (1u << o); }
    constexpr TCopyOptions& Include(TCopyOption o)
    {
        FBits |= 1u << o;
        return *this;
    }
    constexpr TCopyOptions& Exclude(TCopyOption o)
    {
        FBits &= ~(1u << o);
        return *this;
    }
    constexpr unsigned Bits() const { return FBits; }

private:
    unsigned FBits = 0;
};

enum TShellCopyMode { scmCopy, scmQuiet };
class TShellCopyModes {
public:
    constexpr TShellCopyModes() = default;
    constexpr TShellCopyModes(std::initializer_list<TShellCopyMode> modes)
    {
        for (TShellCopyMode m : modes)
            FBits |= 1u << m;
    }
    constexpr bool Contains(TShellCopyMode m) const { return FBits & (1u << m); }

private:
    unsigned FBits = 0;
};

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
