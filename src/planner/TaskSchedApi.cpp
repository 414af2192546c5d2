#include "planner/TaskSchedApi.h"

#include "frame/WinExecute.h"

namespace kes {

std::shared_ptr<platform::ITaskService> CoTaskScheduler_::Create()
{
    platform::TSystemdTaskServiceOptions options;
    options.SplitArguments = [](const QString& arguments) { return SplitCommandLine(arguments); };
    return platform::CreateSystemdTaskService(std::move(options));
}

std::shared_ptr<platform::ITaskService> CoTaskScheduler_::CreateRemote(const QString& machineName)
{
    throw platform::ETaskServiceError(platform::kTaskNotSupported, machineName);
}

} // namespace kes
