// An in-memory platform for the logic's tests: a tree of Windows paths with attributes, a
// listing order that the test controls, a scripted shell copy, fault injection and a log of
// what a person would see.
#pragma once

#include "platform/held_paths.h"
#include "platform/platform_error.h"
#include "platform/platform_services.h"
#include "platform/text_encoding.h"

#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellatrix::testing {

class FakePlatform : public PlatformServices {
  public:
    FakePlatform() {
        for (const Text drive : {u"C:", u"D:", u"E:"})
            nodes_[drive] = Node{FileAttribute::Directory, {}};
    }

    // The tree. Paths are Windows paths without a trailing "\"; parents must exist. Entries
    // are listed in the order they were added.
    void add(const Text& path, std::uint32_t attributes) {
        const auto [parent, name] = splitParent(path);
        if (!nodes_.count(path))
            nodes_.at(parent).children.push_back(name);
        nodes_[path].attributes = attributes;
    }
    std::uint32_t attributesOf(const Text& path) const { return nodes_.at(path).attributes; }

    // Scripted behaviour. Every message box is answered Yes.
    int shellResult = 0;                                 // what the shell operation returns
    bool shellAborts = false;                            // the user cancels the shell operation
    std::function<void(FileOpStruct&)> onShellOperation; // runs inside the operation
    bool currentDirectoryFails = false;
    Text exeFolder = u"D:\\Program";
    std::set<Text> failingSetAttributes; // paths whose attribute write fails

    // What happened. `calls` holds what a person sees and what happens to the files, in
    // order, one line each: "operation path" for message boxes, the shell operation, attribute
    // changes and the end of the program.
    std::vector<std::string> calls;
    std::vector<FileOpStruct> shellRequests;
    int ownerWindowCalls = 0;
    int openListingCalls = 0; // every one, those that found nothing included
    int openListings() const { return static_cast<int>(listings_.size()); } // still open
    // Calls that name an entry or folder other than the one the innermost listing has just
    // given out, where HeldPaths places it: a walk names nothing else, so a platform reaches
    // everything it walks from the listing it holds.
    int unheldCalls = 0;

    int messageBox(const Text& text, const Text& title, int style) override {
        log("messageBox " + toUtf8(title) + " " + std::to_string(style), text);
        return Reply::Yes;
    }
    Text currentDirectory() override {
        if (currentDirectoryFails)
            throw PlatformError(std::make_error_code(std::errc::no_such_file_or_directory),
                                "read the current directory", u"");
        return u"E:\\Setup";
    }
    Text executableFolder() override { return exeFolder; }
    WindowHandle ownerWindow() override {
        ++ownerWindowCalls;
        return 0x1234;
    }
    int shellFileOperation(FileOpStruct& op) override {
        log("shellFileOperation", op.pFrom.substr(0, op.pFrom.find(u'\0')));
        shellRequests.push_back(op);
        if (onShellOperation)
            onShellOperation(op);
        op.fAnyOperationsAborted = shellAborts;
        return shellResult;
    }
    // "folder\*.*" lists the folder ("." and ".." first but in a drive root), a plain path
    // that one entry.
    ListingHandle openListing(const Text& pattern, FindData& data) override {
        ++openListingCalls;
        const auto [folder, name] = splitParent(pattern);
        Listing listing;
        const auto it = nodes_.find(name == u"*.*" ? folder : pattern);
        if (it != nodes_.end() && name != u"*.*")
            listing.entries.emplace_back(name, it->second.attributes);
        if (it != nodes_.end() && name == u"*.*") {
            if (folder.size() > 2)
                listing.entries = {{u".", FileAttribute::Directory},
                                   {u"..", FileAttribute::Directory}};
            for (const Text& child : it->second.children)
                listing.entries.emplace_back(child, nodes_.at(folder + u"\\" + child).attributes);
        }
        const HeldPaths::Place at = held_.place(folder);
        if (held_.innermost() && !(at.from == held_.innermost() && at.listedLast))
            ++unheldCalls;
        if (listing.entries.empty())
            return kInvalidListing;
        fill(listing, data);
        held_.opened(nextHandle_, folder, at);
        held_.gave(nextHandle_, data.cFileName.data());
        listings_[nextHandle_] = std::move(listing);
        return nextHandle_++;
    }
    bool advanceListing(ListingHandle listing, FindData& data) override {
        if (!fill(listings_.at(listing), data))
            return false;
        held_.gave(listing, data.cFileName.data());
        return true;
    }
    void closeListing(ListingHandle listing) override {
        if (listings_.erase(listing) != 1)
            throw std::logic_error("fake: closing a listing that is not open");
        held_.closed(listing);
    }
    std::uint32_t readAttributes(const Text& path) override {
        countUnheld(path);
        return nodes_.at(path).attributes; // a path that names nothing fails the test
    }
    void setAttributes(const Text& path, std::uint32_t attributes) override {
        log("setAttributes " + std::to_string(attributes), path);
        countUnheld(path);
        if (failingSetAttributes.count(path))
            throw PlatformError(std::make_error_code(std::errc::permission_denied),
                                "set the attributes of", path);
        nodes_.at(path).attributes = attributes;
    }
    void processMessages() override {}
    void endProgram() override { log("endProgram"); }

  private:
    struct Node {
        std::uint32_t attributes;
        std::vector<Text> children; // names, in listing order
    };
    struct Listing {
        std::vector<std::pair<Text, std::uint32_t>> entries;
        std::size_t next = 0;
    };
    static std::pair<Text, Text> splitParent(const Text& path) {
        const auto slash = path.rfind(u'\\');
        return slash == Text::npos ? std::pair{Text(), path}
                                   : std::pair{path.substr(0, slash), path.substr(slash + 1)};
    }
    void countUnheld(const Text& path) {
        const auto [folder, name] = splitParent(path);
        const HeldPaths::Place at = held_.place(folder);
        if (!(at.from == held_.innermost() && held_.isListedLast(at, name)))
            ++unheldCalls;
    }
    void log(const std::string& operation, const Text& path = {}) {
        calls.push_back(path.empty() ? operation : operation + " " + toUtf8(path));
    }
    static bool fill(Listing& listing, FindData& data) {
        if (listing.next >= listing.entries.size())
            return false;
        const auto& [name, attributes] = listing.entries[listing.next++];
        data = FindData{};
        data.dwFileAttributes = attributes;
        std::copy(name.begin(), name.end(), data.cFileName.begin());
        return true;
    }

    std::map<Text, Node> nodes_;
    std::map<ListingHandle, Listing> listings_;
    ListingHandle nextHandle_ = 100;
    HeldPaths held_{[](std::u16string_view a, std::u16string_view b) { return a == b; }};
};

} // namespace pellatrix::testing
