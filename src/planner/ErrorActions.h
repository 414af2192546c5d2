// The error conditions under which the action after a backup (standby,
// hibernate, logoff, shutdown, restart) is not carried out: a mask with one
// bit per condition, passed to the main program as "erractions".
//
// TErrorActionChoice is the widget-free model of the dialog that edits the
// mask: loaded from a mask it shows one check per condition (bits above
// the known ones are not shown), confirmed it gives the mask of the checked
// conditions (so those bits are dropped), cancelled the mask stays.
#pragma once

#include "frame/I18n.h"

#include <QString>
#include <array>

namespace kes {

struct TErrorActionCondition {
    int Bit;
    const char* Text; // translate with Tr()
};

inline constexpr std::array<TErrorActionCondition, 5> kErrorActionConditions {{
    {1, N_("Task file not found")},
    {2, N_("Destination not accessible")},
    {4, N_("Source directory not found")},
    {8, N_("Invalid task configuration")},
    {16, N_("Other errors during backup")},
}};

// "Subsequent action" (the dialog's caption).
QString ErrorActionTitle();
// The condition's text, translated.
QString ErrorActionConditionText(int index);
// Format("No %s on these errors", subAction): the group's caption.
QString ErrorActionCaption(const QString& subAction);
// Format("Disable %s on errors", actionText): the hint of the wizard's
// "Error handling" button.
QString ErrorActionHint(const QString& actionText);

class TErrorActionChoice {
public:
    explicit TErrorActionChoice(int mask);

    int Count() const { return int(kErrorActionConditions.size()); }
    bool Checked(int index) const { return FChecked.at(std::size_t(index)); }
    void SetChecked(int index, bool checked) { FChecked.at(std::size_t(index)) = checked; }

    // OK: the mask becomes the sum of the checked conditions' bits, true.
    // Cancel: the mask stays, false.
    bool Finish(bool accepted, int& mask) const;

private:
    std::array<bool, 5> FChecked {};
};

} // namespace kes
