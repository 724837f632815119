#pragma once

// Keys and pointer events sent to a control as a user's would arrive: through
// Qt's event delivery, so the control's own event paths run. vmk-script and the
// window tests play the user through these.

#include <QEvent>
#include <Qt>
#include <cstdint>
#include <string>

#include "widgets/Controls.h"
#include "widgets/Forms.h"
#include "widgets/StdCtrls.h"

namespace vmk {

// Where a control's keys go: an edit box's line edit, else its widget.
QWidget* KeyTarget(TControl& control);

// Key down (or up) of a virtual key at the control; false when the code has no Qt key.
bool SendVirtualKey(TControl& control, uint16_t vk, bool down);
// Key down and up.
bool PressVirtualKey(TControl& control, uint16_t vk);

// Types UTF-8 text at the end of the box, one key stroke (down, character, up)
// a character; capitals with Shift held.
void TypeText(TCustomEdit& edit, const std::string& text);

// A few passes of the event loop, a moment apart, so that what the platform
// still holds (the geometry of a window's showing among it) arrives.
void SettleEvents();

// Sets the window's client size as a user's resize would, again until it
// stays: geometry the platform still holds may arrive late on a busy machine
// and undo it.
void ResizeUntilItStays(TForm& form, int width, int height);

// A pointer event at (x, y) of the control's widget; a press holds its button.
void SendMouse(TControl& control, QEvent::Type type, int x, int y, Qt::MouseButton button = Qt::NoButton);

}  // namespace vmk
