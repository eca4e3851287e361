// The install log's file and its lines.
#include "install_log.h"

#include "platform/text_encoding.h"

#include <cerrno>
#include <ctime>

namespace pellatrix {
namespace {

// The time now in UTC, as ISO 8601 writes it to the second.
std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

} // namespace

InstallLog::InstallLog(std::filesystem::path file, PathDisplay showPath)
    : file_(std::move(file)), showPath_(std::move(showPath)) {
    errno = 0;
    out_.open(file_, std::ios::binary | std::ios::trunc);
    if (!out_)
        openError_ = errno != 0 ? errno : EIO;
}

void InstallLog::write(const Text& text) {
    errno = 0;
    if (out_)
        out_ << utcNow() << ' ' << toUtf8(text) << '\n' << std::flush;
    if (!out_) {
        const int error = openError_ != 0 ? openError_ : errno != 0 ? errno : EIO;
        throw PlatformError(std::error_code(error, std::generic_category()), "write the log",
                            file_.u16string());
    }
}

Text InstallLog::quoted(const Text& path) const {
    return u"\"" + (showPath_ ? showPath_(path) : path) + u"\"";
}

} // namespace pellatrix
