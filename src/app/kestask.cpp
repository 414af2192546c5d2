// kestask: the start check of a scheduled task, run by the user manager
// before the task's program (ExecCondition= of the task's service).
//   kestask check <definition file>
// Exit status: 0 the task runs now, 1 this start is skipped (the manager
// then leaves the service inactive without failure), 2 wrong usage.
#include "frame/Format.h"
#include "frame/I18n.h"
#include "platform/FileName.h"
#include "platform/TaskService.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>
#include <cstring>

using namespace kes;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    InitTranslation(QString());
    QTextStream err(stderr);
    if (argc != 3 || std::strcmp(argv[1], "check") != 0) {
        err << U_("Usage: kestask check <task definition file>") << Qt::endl;
        return 2;
    }
    const QString file = platform::DecodeName(argv[2], qsizetype(std::strlen(argv[2])));
    const platform::TTaskStartCheck check = platform::RunTaskStartCheck(
        file, qEnvironmentVariable("TRIGGER_UNIT"), QDateTime::currentDateTime());
    switch (check.Reason) {
    case platform::srNotDue:
        err << U_("No trigger time of the task is due; this start is skipped.") << Qt::endl;
        break;
    case platform::srNoNetwork:
        err << U_("The task runs only with a network connection; this start is skipped.") << Qt::endl;
        break;
    case platform::srUnreadable:
        err << SafeFormat(U_("The task definition cannot be read: %s"), {check.Detail}) << Qt::endl;
        break;
    default:
        break;
    }
    return check.Run ? 0 : 1;
}
