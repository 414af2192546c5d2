// File dialog filters as the programs write them ("Backup tasks|*.buj|all|*.*":
// pairs of description and patterns separated by "|") in the form of Qt's
// file dialogs ("Backup tasks (*.buj);;all (*.*)"). Widget-free.
#pragma once

#include <QString>

namespace kes {

QString QtFileFilter(const QString& pairs);

} // namespace kes
