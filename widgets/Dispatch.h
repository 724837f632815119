#pragma once

// The one place where events reach their handlers.

#include <functional>

namespace vmk {

// Every event from the event loop reaches its handler through here: a failure
// that leaves the handler is shown in the exception box (EAbort silently) and
// never travels on into Qt. Handlers run by a value set from code are called
// directly instead, so their failures reach the code that set the value.
// Returns false when the handler failed.
bool Dispatch(const std::function<void()>& handler);

}  // namespace vmk
