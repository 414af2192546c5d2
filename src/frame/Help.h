// The help: a folder of HTML pages opened in the desktop's browser.
#pragma once

#include <QString>
#include <functional>

namespace kes {

// Where errors are shown: the caller's error message box (the frame has no
// windows of its own).
using TMessageSink = std::function<void(const QString& message)>;
// Opens a URL; the default is the desktop's browser (platform::OpenUrl).
using TUrlOpener = std::function<bool(const QString& url)>;

// The help folder: the translation of "kestrup-help" (a catalogue may name
// a folder of its own), else "kestrup-help", looked for in ProgramDir and
// then in the install prefix's share/kestrup folder. When none exists, the
// path it would have in ProgramDir.
QString GetHelpFile();

// Opens the page of the topic ("index.html" when empty; a topic may carry
// a "#" fragment) in the browser. When the page is missing or cannot be
// opened, "Help is not available on this system!" goes to the sink and the
// result is false.
bool ShowHelp(const QString& topic, const TMessageSink& reportError, const TUrlOpener& open = TUrlOpener());

} // namespace kes
