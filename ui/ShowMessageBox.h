#pragma once

#include <cstdint>

#include "app/WindowLayer.h"
#include "text/String.h"

class WizardActions;

// The installer's one message box: a modal alert with text, returning once
// the user has answered.
//   flags, low 8 bits: MSG_YESNO gives "Yes" (Return) and "No" (Escape); any
//     other value one "OK" (Return). The captions are English everywhere.
//   flags, high 8 bits: MSG_STYLE_CRITICAL gives the critical style with the
//     no-entry icon, MSG_STYLE_WARNING the warning style with the question
//     icon, anything else the informational style with the application icon.
// actions, when not null, give the alert's title (GetTitle); null keeps the
// platform's default title. Works before the wizard window exists.
// Returns MSG_RESULT_YES or MSG_RESULT_NO for a Yes/No box, MSG_RESULT_OK for
// an OK box, and MSG_RESULT_NONE when the alert ended otherwise (a
// termination signal ended it; on macOS, its window closed from the title
// bar). With GNUstep the window manager's close gives No or OK.
std::uint32_t ShowMessageBox(WizardActions* actions, const stdx::u16string& text,
                             std::uint32_t flags);
