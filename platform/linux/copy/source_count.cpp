// The copy's count, on its own thread.
#include "platform/linux/copy/source_count.h"

#include "platform/linux/sys/folder_stack.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace pellatrix::linuxos {
SourceCount::SourceCount(int folder, std::function<bool(std::string_view)> matches)
    : matches_(std::move(matches)) {
    // The count is an estimate for the display: when it cannot even start, the totals are
    // those the copy meets.
    const int top = openat(folder, ".", kOpenFolder);
    if (top < 0)
        return;
    try {
        thread_ = std::thread([this, top] { count(top); });
    } catch (const std::system_error&) {
        close(top);
    }
}

SourceCount::~SourceCount() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

// Whatever it cannot read it passes over, asking nothing: the copy meets it again and
// reports it.
void SourceCount::count(int top) {
    FolderStack stack;
    stack.push({"", DirectoryReader(UniqueFd(top))});
    while (!stack.empty() && !stop_.load(std::memory_order_relaxed)) {
        FolderStack::Level& folder = stack.innermost();
        DirectoryReader::Entry entry;
        if (folder.source.next(entry) != DirectoryReader::Step::Entry) {
            if (!stack.reopenParent()) {
                stack.pop();
                stack.popAsideLevels();
            } else {
                stack.pop();
            }
            continue;
        }
        if (stack.depth() == 1 && !matches_(entry.name))
            continue;
        const std::string name(entry.name);
        unsigned char type = entry.type;
        struct stat st {};
        if (type == DT_REG || type == DT_UNKNOWN) {
            if (fstatat(folder.source.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = IFTODT(st.st_mode);
        }
        if (type != DT_DIR) {
            files_.fetch_add(1, std::memory_order_relaxed);
            if (type == DT_REG)
                bytes_.fetch_add(static_cast<std::uint64_t>(st.st_size), std::memory_order_relaxed);
            continue;
        }
        UniqueFd sub(openat(folder.source.fd(), name.c_str(), kOpenFolder));
        if (sub)
            stack.push({name, DirectoryReader(std::move(sub))});
    }
}

} // namespace pellatrix::linuxos
