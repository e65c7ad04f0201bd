#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "platform/dynamic_library.h"

namespace tunefold::platform {

namespace {

class DlLibrary final : public DynamicLibrary {
public:
    DlLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    ~DlLibrary() override { ::dlclose(handle_); }
    void* Symbol(const char* name) const override { return ::dlsym(handle_, name); }
    const std::string& Path() const override { return path_; }

private:
    void* handle_;
    std::string path_;
};

} // namespace

std::unique_ptr<DynamicLibrary> LoadDynamicLibrary(const std::string& path, std::string* error) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        if (error != nullptr) {
            const char* why = ::dlerror();
            *error = why != nullptr ? why : "unknown error";
        }
        return nullptr;
    }
    return std::make_unique<DlLibrary>(handle, path);
}

std::string ExecutableDirectory() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
        return {};
    }
    std::string path(buffer, static_cast<std::size_t>(n));
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace tunefold::platform
