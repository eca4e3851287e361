// The benchmark tree generator. Names are numbered, contents come from a SplitMix64 stream of
// the seed (fully specified, unlike the standard library's distributions), and each file's
// read-only choice depends only on the seed and the file's position in the tree.
#include "tree_generator.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace pellatrix::bench {
namespace {

std::uint64_t splitMix64(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::system_error(errno, std::generic_category(), what + " " + path);
}

class Builder {
  public:
    Builder(const TreeShape& shape, bool create) : shape_(shape), create_(create) {}

    void folder(const std::string& path, std::size_t level) {
        if (create_ && mkdir(path.c_str(), 0755) != 0)
            fail("make folder", path);
        for (unsigned i = 0; i < shape_.filesPerFolder; ++i)
            file(path + "/file" + std::to_string(i) + ".dat");
        if (level < shape_.foldersPerLevel.size()) {
            for (unsigned i = 0; i < shape_.foldersPerLevel[level]; ++i) {
                ++size_.folders;
                folder(path + "/folder" + std::to_string(i), level + 1);
            }
        }
    }

    TreeSize size() const { return size_; }

  private:
    void file(const std::string& path) {
        // One decision per file, in creation order, whatever the file's size.
        const bool readOnly =
            static_cast<double>(splitMix64(choiceState_) >> 11) * 0x1.0p-53 < shape_.readOnlyShare;
        ++size_.files;
        size_.bytes += shape_.fileSize;
        if (readOnly)
            ++size_.readOnlyFiles;
        const mode_t mode = readOnly ? 0444 : 0644;
        if (create_)
            write(path, mode);
        else if (readOnly && chmod(path.c_str(), mode) != 0)
            fail("chmod", path);
    }

    void write(const std::string& path, mode_t mode) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            fail("create", path);
        if (buffer_.empty())
            buffer_.resize(1 << 20);
        for (std::uint64_t left = shape_.fileSize; left > 0;) {
            const std::size_t n = left < buffer_.size() ? left : buffer_.size();
            for (std::size_t i = 0; i < n; i += 8) {
                const std::uint64_t word = splitMix64(dataState_);
                for (std::size_t b = 0; b < 8 && i + b < n; ++b)
                    buffer_[i + b] = static_cast<char>(word >> (8 * b));
            }
            const ssize_t written = ::write(fd, buffer_.data(), n);
            if (written != static_cast<ssize_t>(n)) {
                ::close(fd);
                fail("write", path);
            }
            left -= n;
        }
        if (fchmod(fd, mode) != 0 || ::close(fd) != 0)
            fail("finish", path);
    }

    const TreeShape& shape_;
    const bool create_;
    TreeSize size_;
    std::uint64_t choiceState_ = shape_.seed;
    std::uint64_t dataState_ = shape_.seed ^ 0x5DEECE66Dull;
    std::string buffer_;
};

} // namespace

TreeSize generateTree(const std::string& root, const TreeShape& shape) {
    const auto parent = std::filesystem::path(root).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent);
    Builder builder(shape, true);
    builder.folder(root, 0);
    return builder.size();
}

std::uint64_t restoreReadOnly(const std::string& root, const TreeShape& shape) {
    Builder builder(shape, false);
    builder.folder(root, 0);
    return builder.size().readOnlyFiles;
}

TreeSize sizeOf(const TreeShape& shape) {
    TreeSize size;
    std::uint64_t foldersAtLevel = 1;
    for (const unsigned count : shape.foldersPerLevel) {
        foldersAtLevel *= count;
        size.folders += foldersAtLevel;
    }
    size.files = (size.folders + 1) * shape.filesPerFolder;
    size.bytes = size.files * shape.fileSize;
    return size;
}

std::vector<unsigned> parseLevels(const std::string& text) {
    std::vector<unsigned> levels;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty())
            levels.push_back(static_cast<unsigned>(std::stoul(item)));
    return levels;
}

} // namespace pellatrix::bench
