#pragma once

// The program's start-up order, shared by the entry point and vmk-script.

#include <functional>

namespace vmk {

// Module initialisation: the picture formats and the JPEG defaults for the
// screen's colour depth. Needs the Qt application (for the screen).
void InitializeModules();
// Module finalisation: unregisters what InitializeModules registered.
void FinalizeModules();

// Initialises the application, sets its title, creates the main window and
// runs it (run, when given, stands in for the event loop; the main window
// exists while it runs). A vmk::Exception that escapes is shown in the
// exception box. Returns 0.
int RunProgram(const std::function<void()>& run = {});

}  // namespace vmk
