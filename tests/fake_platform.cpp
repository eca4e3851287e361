// The in-memory platform.
#include "fake_platform.h"

#include "platform/platform_error.h"
#include "platform/text_encoding.h"

#include <stdexcept>

namespace pellatrix::testing {
namespace {

std::pair<Text, Text> splitParent(const Text& path) {
    const auto slash = path.rfind(u'\\');
    if (slash == Text::npos)
        return {Text(), path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

Text withoutTrailingSeparator(Text path) {
    while (!path.empty() && path.back() == u'\\')
        path.pop_back();
    return path;
}

} // namespace

std::string narrow(const Text& text) {
    return toUtf8(text);
}

FakePlatform::FakePlatform() {
    for (const Text drive : {u"C:", u"D:", u"E:"})
        nodes_[drive] = Node{FileAttribute::Directory, {}};
}

void FakePlatform::addFolder(const Text& path, std::uint32_t attributes) {
    addFile(path, attributes);
}

void FakePlatform::addFile(const Text& path, std::uint32_t attributes) {
    const auto [parent, name] = splitParent(path);
    auto it = nodes_.find(parent);
    if (it == nodes_.end())
        throw std::logic_error("fake: no parent folder for " + narrow(path));
    if (!nodes_.count(path))
        it->second.children.push_back(name);
    nodes_[path].attributes = attributes;
}

void FakePlatform::remove(const Text& path) {
    const auto [parent, name] = splitParent(path);
    auto& siblings = nodes_.at(parent).children;
    std::erase(siblings, name);
    std::erase_if(nodes_, [&](const auto& node) {
        return node.first == path || node.first.starts_with(path + u"\\");
    });
}

bool FakePlatform::exists(const Text& path) const {
    return nodes_.count(path) != 0;
}

std::uint32_t FakePlatform::attributesOf(const Text& path) const {
    return nodes_.at(path).attributes;
}

void FakePlatform::log(const std::string& operation, const Text& path) {
    calls.push_back(path.empty() ? operation : operation + " " + narrow(path));
}

int FakePlatform::messageBox(const Text& text, const Text& title, int style) {
    log("messageBox " + narrow(title) + " " + std::to_string(style), text);
    if (replies.empty())
        return Reply::Ok;
    const int reply = replies.front();
    replies.pop_front();
    return reply;
}

Text FakePlatform::currentDirectory() {
    log("currentDirectory", {});
    if (currentDirectoryFails)
        throw PlatformError(std::make_error_code(std::errc::no_such_file_or_directory),
                            "read the current directory", u"");
    return currentDir;
}

Text FakePlatform::executableFolder() {
    log("executableFolder", {});
    return exeFolder;
}

WindowHandle FakePlatform::ownerWindow() {
    log("ownerWindow", {});
    return 0x1234;
}

int FakePlatform::shellFileOperation(FileOpStruct& op) {
    log("shellFileOperation", op.pFrom.substr(0, op.pFrom.find(u'\0')));
    shellRequests.push_back(op);
    if (onShellOperation)
        onShellOperation(op);
    op.fAnyOperationsAborted = shellAborts;
    return shellResult;
}

ListingHandle FakePlatform::openListing(const Text& pattern, FindData& data) {
    log("openListing", pattern);
    const auto [folder, name] = splitParent(pattern);
    Listing listing;
    if (name == u"*.*") {
        const auto it = nodes_.find(withoutTrailingSeparator(folder));
        if (it == nodes_.end())
            return kInvalidListing;
        if (it->first.size() > 2) { // drive roots have no "." and ".."
            listing.entries.emplace_back(u".", FileAttribute::Directory);
            listing.entries.emplace_back(u"..", FileAttribute::Directory);
        }
        for (const Text& child : it->second.children)
            listing.entries.emplace_back(child, nodes_.at(it->first + u"\\" + child).attributes);
    } else {
        const auto it = nodes_.find(pattern);
        if (it == nodes_.end())
            return kInvalidListing;
        listing.entries.emplace_back(name, it->second.attributes);
    }
    if (onOpenListing)
        onOpenListing(pattern);
    if (listing.entries.empty())
        return kInvalidListing;
    const ListingHandle handle = nextHandle_++;
    fill(listing, data);
    listings_[handle] = std::move(listing);
    return handle;
}

bool FakePlatform::fill(Listing& listing, FindData& data) {
    if (listing.next >= listing.entries.size())
        return false;
    const auto& [name, attributes] = listing.entries[listing.next++];
    data = FindData{};
    data.dwFileAttributes = attributes;
    std::copy(name.begin(), name.end(), data.cFileName.begin());
    return true;
}

bool FakePlatform::advanceListing(ListingHandle listing, FindData& data) {
    return fill(listings_.at(listing), data);
}

void FakePlatform::closeListing(ListingHandle listing) {
    if (listings_.erase(listing) != 1)
        throw std::logic_error("fake: closing a listing that is not open");
}

std::uint32_t FakePlatform::readAttributes(const Text& path) {
    const auto it = nodes_.find(path);
    if (it == nodes_.end())
        throw PlatformError(std::make_error_code(std::errc::no_such_file_or_directory),
                            "read the attributes of", path);
    return it->second.attributes;
}

void FakePlatform::setAttributes(const Text& path, std::uint32_t attributes) {
    log("setAttributes " + std::to_string(attributes), path);
    ++setAttributeCalls;
    if (failingSetAttributes.count(path))
        throw PlatformError(std::make_error_code(std::errc::permission_denied),
                            "set the attributes of", path);
    nodes_.at(path).attributes = attributes;
}

void FakePlatform::processMessages() {}

void FakePlatform::endProgram() {
    log("endProgram", {});
}

} // namespace pellatrix::testing
