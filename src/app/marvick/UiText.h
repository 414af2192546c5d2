// The translation of texts of the Designer forms: uic is told to call
// UiText (AUTOUIC_OPTIONS "--tr UiText"), so every text of a form goes
// through the program's gettext domain like every other text.
#pragma once

#include "frame/I18n.h"

#include <QString>

inline QString UiText(const char* text, const char* /*disambiguation*/ = nullptr)
{
    return ::kes::Tr(text);
}
