// The help: HTML pages in one folder per language, opened in the desktop's
// browser.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace kes {

// Where errors are shown: the caller's error message box (the frame has no
// windows of its own).
using TMessageSink = std::function<void(const QString& message)>;
// Opens a URL; the default is the desktop's browser (platform::OpenUrl).
using TUrlOpener = std::function<bool(const QString& url)>;

// The folders that may hold the help, each with one subfolder per language
// ("en", "de" ...), in the order they are searched:
//   ProgramDir + "../share/kestrup/help"  the install layout (or the build
//                                         tree's bin/ and share/), wherever
//                                         it was moved to
//   the build tree's share/kestrup/help   builds that may run uninstalled
//   <datadir>/kestrup/help                the install prefix's data folder
QStringList HelpRoots();

// The help folder of the user-interface language (LanguageCode), else the
// English one, in the first root that has it. When there is none, the
// English folder the first root would have.
QString GetHelpFile();

// The page of a topic: the topic's file in the folder of the user-interface
// language, else in the English folder, of the first root that holds one;
// empty when no root does.
QString FindHelpPage(const QString& page);

// Opens the page of the topic ("index.html" when empty; a topic may carry
// a "#" fragment) in the browser. When the page is missing or cannot be
// opened, "Help is not available on this system!" goes to the sink and the
// result is false.
bool ShowHelp(const QString& topic, const TMessageSink& reportError, const TUrlOpener& open = TUrlOpener());

} // namespace kes
