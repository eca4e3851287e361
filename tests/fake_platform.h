// An in-memory platform for the logic's tests: a tree of Windows paths with attributes, a
// listing order that the test controls, scripted replies, fault injection and a call log.
#pragma once

#include "platform/platform_services.h"

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace pellatrix::testing {

class FakePlatform : public PlatformServices {
  public:
    FakePlatform();

    // The tree. Paths are Windows paths without a trailing "\"; parents must exist. Entries
    // are listed in the order they were added.
    void addFile(const Text& path, std::uint32_t attributes = FileAttribute::Archive);
    void addFolder(const Text& path, std::uint32_t attributes = FileAttribute::Directory) {
        addFile(path, attributes);
    }
    void remove(const Text& path);
    std::uint32_t attributesOf(const Text& path) const;

    // Scripted behaviour.
    std::deque<int> replies;  // message box replies, in order (default: Ok)
    int shellResult = 0;      // what the shell operation returns
    bool shellAborts = false; // the user cancels the shell operation
    std::function<void(FileOpStruct&)> onShellOperation;          // runs inside the operation
    std::function<void(const Text& folderPattern)> onOpenListing; // runs after each open
    Text currentDir = u"E:\\Setup";
    bool currentDirectoryFails = false;
    Text exeFolder = u"D:\\Program";
    std::set<Text> failingSetAttributes; // paths whose attribute write fails

    // What happened.
    std::vector<std::string> calls; // one line per call, "operation path"
    std::vector<FileOpStruct> shellRequests;
    int openListings() const { return static_cast<int>(listings_.size()); }
    int setAttributeCalls = 0;

    int messageBox(const Text& text, const Text& title, int style) override;
    Text currentDirectory() override;
    Text executableFolder() override;
    WindowHandle ownerWindow() override;
    int shellFileOperation(FileOpStruct& op) override;
    ListingHandle openListing(const Text& pattern, FindData& data) override;
    bool advanceListing(ListingHandle listing, FindData& data) override;
    void closeListing(ListingHandle listing) override;
    std::uint32_t readAttributes(const Text& path) override;
    void setAttributes(const Text& path, std::uint32_t attributes) override;
    void processMessages() override;
    void endProgram() override;

  private:
    struct Node {
        std::uint32_t attributes;
        std::vector<Text> children; // names, in listing order
    };
    struct Listing {
        std::vector<std::pair<Text, std::uint32_t>> entries;
        std::size_t next = 0;
    };
    void log(const std::string& operation, const Text& path);
    bool fill(Listing& listing, FindData& data);

    std::map<Text, Node> nodes_;
    std::map<ListingHandle, Listing> listings_;
    ListingHandle nextHandle_ = 100;
};

// UTF-16 to a narrow string for log lines and assertion messages (ASCII paths in tests).
std::string narrow(const Text& text);

} // namespace pellatrix::testing
