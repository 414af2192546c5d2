#include "watchdog/MonTask.h"

namespace kes {

TMonTask::TMonTask(const QString& aTask, const QString& aDir)
    : BuTask(aTask)
    , Dir(aDir)
{
}

TRunStatus TMonTask::GetRunStatus() const
{
    if (!DirWatch)
        return rsOff;
    return BuThread ? rsBackup : rsWatch;
}

} // namespace kes
