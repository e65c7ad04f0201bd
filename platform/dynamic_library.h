// Shared libraries loaded at run time by name, and the folder of the running program.
#pragma once

#include <memory>
#include <string>

namespace tunefold::platform {

class DynamicLibrary {
public:
    virtual ~DynamicLibrary() = default;
    // The address of an exported symbol, null when the library does not export it.
    virtual void* Symbol(const char* name) const = 0;
    virtual const std::string& Path() const = 0;
};

// Loads a library by path (or, without a folder, from the system's library folders). Null when it
// cannot be loaded; the reason is left in `error` when given.
std::unique_ptr<DynamicLibrary> LoadDynamicLibrary(const std::string& path, std::string* error = nullptr);

// The folder that holds the running program, without a trailing "/"; empty when unknown.
std::string ExecutableDirectory();

} // namespace tunefold::platform
