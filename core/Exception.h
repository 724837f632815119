#pragma once

#include <exception>
#include <string>

namespace vmk {

// Root of every failure the program reports to the user. The message is what
// the exception box shows.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

// A class name and a base class cannot be put in parentheses.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define VMK_EXCEPTION_KIND(Name, Base) \
    class Name : public Base {         \
    public:                            \
        using Base::Base;              \
    }
// NOLINTEND(bugprone-macro-parentheses)

VMK_EXCEPTION_KIND(EListError, Exception);        // list index out of range
VMK_EXCEPTION_KIND(EStreamError, Exception);      // stream failures
VMK_EXCEPTION_KIND(EFOpenError, EStreamError);    // a file cannot be opened
VMK_EXCEPTION_KIND(EFCreateError, EStreamError);  // a file cannot be created
VMK_EXCEPTION_KIND(EReadError, EStreamError);     // fewer bytes than asked for
VMK_EXCEPTION_KIND(EWriteError, EStreamError);    // fewer bytes written than given
VMK_EXCEPTION_KIND(EOutOfMemory, Exception);
VMK_EXCEPTION_KIND(EConvertError, Exception);
VMK_EXCEPTION_KIND(ERegistryException, Exception);
// Raised to cancel an operation quietly; handlers treat it as "stop, say nothing".
VMK_EXCEPTION_KIND(EAbort, Exception);

#undef VMK_EXCEPTION_KIND

// Runs work and names the file in any failure but a quiet abort, so that the
// user learns which file of a batch is at fault.
template <class Work>
void NamingFile(const std::string& path, Work&& work) {
    try {
        work();
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception& e) {
        throw Exception("Error with file " + path + ": " + e.what());
    }
}

}  // namespace vmk
