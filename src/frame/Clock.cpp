#include "frame/Clock.h"

namespace kes {

namespace {

class TSystemClock final : public TClock {
public:
    qint64 CurrentMSecsSinceEpoch() const override { return QDateTime::currentMSecsSinceEpoch(); }
};

} // namespace

QDateTime TClock::CurrentDateTimeUtc() const
{
    return QDateTime::fromMSecsSinceEpoch(CurrentMSecsSinceEpoch(), Qt::UTC);
}

QDateTime TClock::CurrentDateTime() const
{
    return QDateTime::fromMSecsSinceEpoch(CurrentMSecsSinceEpoch(), Qt::LocalTime);
}

TClockPtr TClock::System()
{
    static const TClockPtr clock = std::make_shared<TSystemClock>();
    return clock;
}

void TSettableClock::AdvanceDays(int days)
{
    // The same local time of day, across changes of the UTC offset.
    Set(CurrentDateTime().addDays(days));
}

} // namespace kes
