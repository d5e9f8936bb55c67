#include "app/WindowLayerModule.h"

#include <dlfcn.h>

#include "app/ScopedEnvironmentVariable.h"
#include "engine/fs/FileSystem.h"
#include "text/Encoding.h"

WindowLayerChoice ChooseWindowLayer(const AdminOptions& options, const char* display,
                                    bool (*canOpen)(const char* display)) {
    if (options.WithoutWindows() || display == nullptr || display[0] == '\0' || !canOpen(display)) {
        return WindowLayerChoice::Headless;
    }
    return WindowLayerChoice::Module;
}

bool CanOpenXDisplay(const char* display) {
    // Never unloaded: the module links the same library, and Xlib keeps
    // per-process state once a display was opened.
    void* xlib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    if (xlib == nullptr) {
        return false;
    }
    using OpenDisplay = void* (*)(const char*);
    using CloseDisplay = int (*)(void*);
    auto open = reinterpret_cast<OpenDisplay>(dlsym(xlib, "XOpenDisplay"));
    auto close = reinterpret_cast<CloseDisplay>(dlsym(xlib, "XCloseDisplay"));
    if (open == nullptr || close == nullptr) {
        return false;
    }
    void* connection = open(display);
    if (connection == nullptr) {
        return false;
    }
    close(connection);
    return true;
}

stdx::string WindowLayerModulePath(const stdx::string& executablePath) {
    const size_t slash = executablePath.rfind('/');
    if (slash == stdx::string::npos) {
        return stdx::string();
    }
    return executablePath.substr(0, slash + 1) + kWindowLayerModuleName;
}

std::unique_ptr<WindowLayer> LoadWindowLayerModule(const stdx::string& path, stdx::string* error) {
    *error = stdx::string();
    // Only an absolute path: dlopen searches the library path for a bare
    // name, and a relative one would depend on the working directory.
    if (path.empty() || path[0] != '/') {
        *error = stdx::string("the window layer module has no absolute path");
        return nullptr;
    }
    FileSystem fs;
    FileStatus status;
    if (fs.Status(Utf8ToUtf16(path), &status) != kErrorSuccess ||
        status.type == FileType::Missing) {
        *error = path + " is missing";
        return nullptr;
    }
    // A link could lead anywhere, and opening a pipe would block.
    if (status.type != FileType::Regular) {
        *error = path + " is not a regular file";
        return nullptr;
    }
    // The toolkit's base library links a TLS library whose load-time
    // constructor sets up every cipher and reads the system's trust store,
    // about a mebibyte of memory that the installer, which opens no
    // connection, never uses; the variable asks it to wait for an explicit
    // call instead. The constructors run inside dlopen, so the variable is
    // given back right after: programs started later see the user's own.
    const ScopedEnvironmentVariable noTlsAtLoad("GNUTLS_NO_EXPLICIT_INIT", "1");
    // RTLD_NOW: a symbol the module needs and the program lacks is reported
    // here, not as a crash in the middle of the wizard.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* reason = dlerror();
        *error = path + " cannot be loaded: " + (reason != nullptr ? reason : "unknown error");
        return nullptr;
    }
    auto factory = reinterpret_cast<WindowLayerFactory>(dlsym(module, kWindowLayerFactoryName));
    if (factory == nullptr) {
        *error = path + " has no " + kWindowLayerFactoryName;
        return nullptr;
    }
    return std::unique_ptr<WindowLayer>(factory());
}
