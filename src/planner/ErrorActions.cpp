#include "planner/ErrorActions.h"

#include "frame/Format.h"

namespace kes {

QString ErrorActionTitle()
{
    return _("Subsequent action");
}

QString ErrorActionConditionText(int index)
{
    return Tr(kErrorActionConditions.at(std::size_t(index)).Text);
}

QString ErrorActionCaption(const QString& subAction)
{
    return SafeFormat(_("No %s on these errors"), {subAction});
}

QString ErrorActionHint(const QString& actionText)
{
    return SafeFormat(_("Disable %s on errors"), {actionText});
}

TErrorActionChoice::TErrorActionChoice(int mask)
{
    for (std::size_t i = 0; i < kErrorActionConditions.size(); ++i)
        FChecked[i] = (mask & kErrorActionConditions[i].Bit) != 0;
}

bool TErrorActionChoice::Finish(bool accepted, int& mask) const
{
    if (!accepted)
        return false;
    mask = 0;
    for (std::size_t i = 0; i < kErrorActionConditions.size(); ++i)
        if (FChecked[i])
            mask += kErrorActionConditions[i].Bit;
    return true;
}

} // namespace kes
