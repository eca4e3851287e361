// A fresh folder under the system's temporary folder, removed with everything in it (read-only
// entries too) when the test ends. On Windows, what only the "\\?\" form reaches is beyond it:
// std::filesystem there does not walk such paths. Names ending in a dot or a space keep it from
// ever ending, and are for the test to remove; a folder past MAX_PATH stays behind, in the Wine
// prefix that each test run makes anew (tests/wine/make_prefix.sh).
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace pellatrix::testing {

// The native path exactly as given: on Windows in the "\\?\" form, which takes a path longer
// than MAX_PATH and keeps a name's trailing dot or space, which the path parser would drop.
inline std::filesystem::path exactly(const std::filesystem::path& path) {
#ifdef _WIN32
    return L"\\\\?\\" + std::filesystem::absolute(path).lexically_normal().wstring();
#else
    return path;
#endif
}

class TempFolder {
  public:
    TempFolder() {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() /
                ("pellatrix-test-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        // Make everything writable first (read-only entries would stay behind), never throwing.
        std::error_code ignored;
        std::filesystem::recursive_directory_iterator it(path_, ignored), end;
        for (; it != end; it.increment(ignored))
            if (!it->is_symlink(ignored))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const {
        return path_ / relative;
    }

  private:
    std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void makeReadOnly(const std::filesystem::path& path) {
    using std::filesystem::perms;
    std::filesystem::permissions(path,
                                 perms::owner_write | perms::group_write | perms::others_write,
                                 std::filesystem::perm_options::remove);
}

inline bool isReadOnly(const std::filesystem::path& path) {
    using std::filesystem::perms;
    return (std::filesystem::status(path).permissions() & perms::owner_write) == perms::none;
}

} // namespace pellatrix::testing
