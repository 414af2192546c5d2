// TClock: where logic reads the time, so that tests control it.
//
// Code that decides by the time (schedules, intervals, log days, report
// stamps, "%hour%") asks a TClock it was given instead of the system. The
// system clock is TClock::System(); tests pass a TSettableClock and move it
// by hand. A clock is read from any thread.
#pragma once

#include <QDate>
#include <QDateTime>
#include <atomic>
#include <memory>

namespace kes {

class TClock {
public:
    virtual ~TClock() = default;

    // Milliseconds since 1970-01-01 00:00 UTC.
    virtual qint64 CurrentMSecsSinceEpoch() const = 0;

    QDateTime CurrentDateTimeUtc() const;
    // The local time (the time zone of the process).
    QDateTime CurrentDateTime() const;
    QDate CurrentDate() const { return CurrentDateTime().date(); }

    // The system's clock; shared, never null.
    static std::shared_ptr<const TClock> System();
};

using TClockPtr = std::shared_ptr<const TClock>;

// A clock that stands still until it is set or advanced.
class TSettableClock final : public TClock {
public:
    explicit TSettableClock(const QDateTime& time = QDateTime::currentDateTimeUtc()) { Set(time); }

    qint64 CurrentMSecsSinceEpoch() const override { return FMSecs.load(std::memory_order_acquire); }

    // A time with a time zone, or a local time.
    void Set(const QDateTime& time) { FMSecs.store(time.toMSecsSinceEpoch(), std::memory_order_release); }
    void Advance(qint64 msecs) { FMSecs.fetch_add(msecs, std::memory_order_acq_rel); }
    void AdvanceDays(int days);

private:
    std::atomic<qint64> FMSecs {0};
};

} // namespace kes
