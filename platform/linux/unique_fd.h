// Owners of a file descriptor and of a directory stream, closed on every way out.
#pragma once

#include <dirent.h>
#include <unistd.h>
#include <utility>

namespace pellatrix::linux {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
    }

  private:
    int fd_ = -1;
};

// A directory stream over its own duplicate of a folder descriptor.
class DirStream {
  public:
    explicit DirStream(int folderFd) {
        const int copy = ::dup(folderFd);
        if (copy >= 0 && !(dir_ = ::fdopendir(copy)))
            ::close(copy);
        if (dir_)
            ::rewinddir(dir_);
    }
    ~DirStream() {
        if (dir_)
            ::closedir(dir_);
    }
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;
    explicit operator bool() const { return dir_ != nullptr; }
    // The next entry other than "." and "..", or nullptr at the end.
    const dirent* next() {
        while (const dirent* entry = ::readdir(dir_)) {
            const char* n = entry->d_name;
            if (!(n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))))
                return entry;
        }
        return nullptr;
    }

  private:
    DIR* dir_ = nullptr;
};

} // namespace pellatrix::linux
