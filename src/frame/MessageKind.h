// The kinds of message a controller asks its window (or the console) to
// show. Information may close by itself; the others wait for the user.
#pragma once

namespace kes {

enum class TMessageKind { mkInformation, mkWarning, mkError, mkConfirmation };

} // namespace kes
