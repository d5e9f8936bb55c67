#include "tools/KitExtractor.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "kit/KitName.h"
#include "text/Encoding.h"

namespace pkdtool {

namespace {

std::string SystemError(const char* call, const std::string& path) {
    return std::string(call) + "(" + path + "): " + strerror(errno);
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { Reset(-1); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    void Reset(int fd) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

private:
    int m_fd;
};

// The components of a kit name, either separator.
std::vector<std::string> Components(const stdx::u16string& name) {
    const stdx::string bytes = Utf16ToUtf8(name);
    const std::string utf8(bytes.c_str(), bytes.size());
    std::vector<std::string> parts(1);
    for (char c : utf8) {
        if (c == '\\' || c == '/') {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

// Opens (creating when missing) the directory `name` inside `parent`,
// refusing a link or anything else that is not a directory.
int OpenSubdirectory(int parent, const std::string& name, const std::string& shown,
                     std::string* error) {
    if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = SystemError("mkdir", shown);
        return -1;
    }
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ELOOP || errno == ENOTDIR
                     ? shown + ": not a directory (a link or a file is in the way)"
                     : SystemError("open", shown);
    }
    return fd;
}

// Writes file `index` into `directory` as `leaf` through a new temporary
// file beside it, renamed over whatever is there.
bool WriteLeaf(ToolKit& kit, std::size_t index, int directory, const std::string& leaf,
               const std::string& shown, std::string* error) {
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = ".pkdtool-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::openat(directory, temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        *error = SystemError("open", shown + " (temporary file beside it)");
        return false;
    }
    ErrorCode code = kit.ExtractFileTo(index, fd);
    if (::close(fd) != 0 && code == kErrorSuccess) {
        code = kErrorInvalidParameter;
    }
    if (code != kErrorSuccess) {
        ::unlinkat(directory, temporary.c_str(), 0);
        *error = shown + ": cannot be written (code " + std::to_string(code) + ")";
        return false;
    }
    // rename replaces a link itself, never what it points to.
    if (::renameat(directory, temporary.c_str(), directory, leaf.c_str()) != 0) {
        *error = SystemError("rename", shown);
        ::unlinkat(directory, temporary.c_str(), 0);
        return false;
    }
    return true;
}

}  // namespace

bool ExtractKit(ToolKit& kit, const std::string& directory, std::size_t* written,
                std::string* error) {
    *written = 0;
    if (::mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = SystemError("mkdir", directory);
        return false;
    }
    Descriptor root(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.get() < 0) {
        *error = SystemError("open", directory);
        return false;
    }
    for (std::size_t i = 0; i < kit.m_files.size(); ++i) {
        const stdx::u16string& name = kit.m_files[i].m_name;
        const std::vector<std::string> parts = Components(name);
        std::string shown = directory;
        if (!kit::IsSafeKitName(name)) {
            *error = shown + ": the kit holds a name the installer refuses";
            return false;
        }
        Descriptor level(::dup(root.get()));
        for (std::size_t p = 0; p + 1 < parts.size(); ++p) {
            shown += "/" + parts[p];
            const int next = OpenSubdirectory(level.get(), parts[p], shown, error);
            if (next < 0) {
                return false;
            }
            level.Reset(next);
        }
        shown += "/" + parts.back();
        if (level.get() < 0 || !WriteLeaf(kit, i, level.get(), parts.back(), shown, error)) {
            if (level.get() < 0) {
                *error = SystemError("dup", directory);
            }
            return false;
        }
        ++*written;
    }
    return true;
}

}  // namespace pkdtool
