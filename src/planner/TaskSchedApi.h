// The task service as the task model reaches it: the service interface
// (platform/TaskService.h: connect, list, per-task calls, register,
// delete, new definition) and the factory that makes the computer's own.
#pragma once

#include "platform/TaskService.h"

#include <QString>
#include <memory>

namespace kes {

class CoTaskScheduler_ {
public:
    // The task service of this computer: definitions below
    // $XDG_DATA_HOME/Kesmo6/Tasks, carried out by the systemd user manager.
    // The exec actions' arguments are split as the programs' own quoting
    // builds them (SplitCommandLine).
    static std::shared_ptr<platform::ITaskService> Create();
    // Another computer's service: not supported; raises
    // platform::ETaskServiceError with kTaskNotSupported.
    static std::shared_ptr<platform::ITaskService> CreateRemote(const QString& machineName);
};

} // namespace kes
