// Engine errors: one exception class per component family, all deriving from EMMError, each
// carrying the exact text the user sees.
#pragma once

#include <stdexcept>
#include <string>

namespace tunefold {

class EMMError : public std::runtime_error {
public:
    explicit EMMError(const std::string& message) : std::runtime_error(message) {}
};

#define TUNEFOLD_ERROR_CLASS(Name, Base)                                                                     \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        explicit Name(const std::string& message) : Base(message) {}                                         \
    }

// Framework-level errors of the component library.
TUNEFOLD_ERROR_CLASS(EOutOfMemory, EMMError);
TUNEFOLD_ERROR_CLASS(EOutOfResources, EMMError);
TUNEFOLD_ERROR_CLASS(EListError, EMMError);
TUNEFOLD_ERROR_CLASS(EClassNotFound, EMMError);
TUNEFOLD_ERROR_CLASS(EStreamError, EMMError);
TUNEFOLD_ERROR_CLASS(EInOutError, EMMError);

} // namespace tunefold
