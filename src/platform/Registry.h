// Read-only access to the few registry values the programs use.
//
// On Linux a small INI file stands in for the registry. A registry key is a
// section named like the key, a value is an entry of it:
//
//   current user:   $XDG_CONFIG_HOME/Kestrup6/registry.ini
//   local machine:  <dir>/Kestrup6/registry.ini for each <dir> of
//                   $XDG_CONFIG_DIRS (default /etc/xdg), first one wins
//
//   [Software\Kestrup6]
//   IniPath=/home/me/kestrup-settings
//   Program=/opt/kestrup/bin/Kesmo
//
// The files may be UTF-8 (with or without BOM) or UTF-16 with BOM. Section
// and value names compare without regard to case; of several entries the
// first counts. The programs never write these files.
#pragma once

#include <QString>
#include <QStringList>

namespace kes::platform {

enum class RegistryRoot { CurrentUser, LocalMachine };
// The other view is the 32-bit view for a 64-bit process and the reverse;
// on Linux there is only one view, and Alternate reads nothing.
enum class RegistryView { Default, Alternate };

// The value as text; empty when the file, the key or the value is missing.
QString ReadRegistryString(RegistryRoot root, const QString& key, const QString& valueName,
    RegistryView view = RegistryView::Default);

// The stand-in files of a root, in the order they are read.
QStringList RegistryFiles(RegistryRoot root);

} // namespace kes::platform
