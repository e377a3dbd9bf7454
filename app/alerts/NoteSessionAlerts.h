#pragma once

#include "app/session/NoteSession.h"

#include <functional>

class QWidget;

// The alerts of the open note's session (NoteSession::Prompts) as the
// application shows them: a failed save and the notes kept at the last end
// are told without waiting; the quit question waits for its answer. Every
// alert of the session is shown from here, so a shared alert wrapper can
// take their place in one file.
namespace NoteSessionAlerts {

// `window` gives the window the alerts belong to (may be null).
NoteSession::Prompts prompts(std::function<QWidget*()> window);

} // namespace NoteSessionAlerts
