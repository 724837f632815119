#include "widgets/Dispatch.h"

#include <exception>

#include "core/Exception.h"
#include "widgets/Forms.h"

namespace vmk {

bool Dispatch(const std::function<void()>& handler) {
    bool ok = false;
    try {
        handler();
        ok = true;
    } catch (const EAbort&) {
        // A quiet cancel: nothing to show.
    } catch (const std::exception& e) {
        try {
            Application->ShowException(e);
        } catch (...) {
            // Showing the failure failed too; the event loop must go on regardless.
        }
    } catch (...) {
        try {
            Application->ShowException(Exception("Unknown failure"));
        } catch (...) {
        }
    }
    return ok;
}

}  // namespace vmk
