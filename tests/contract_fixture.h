// The platform under test on real folders, for the contract suite that every platform passes
// and for the tests of what one platform does beyond it; and what each platform's half of this
// fixture provides (contract_fixture_linux.cpp, contract_fixture_win32.cpp).
#pragma once

#include "platform/platform_error.h"
#include "platform/platform_services.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>

namespace pellatrix::testing {

std::unique_ptr<PlatformServices> makePlatformUnderTest();

// The Windows path by which the platform reaches a native path ("Z:\tmp\x" on Linux).
Text platformPathOf(const std::filesystem::path& native);

constexpr std::uint32_t kRO = FileAttribute::ReadOnly, kHidden = FileAttribute::Hidden,
                        kSystem = FileAttribute::System, kDir = FileAttribute::Directory,
                        kArchive = FileAttribute::Archive, kLink = FileAttribute::ReparsePoint;
// The bits the contract fixes; the others (normal, not-indexed, ...) vary by system.
constexpr std::uint32_t kContractBits = kRO | kHidden | kSystem | kDir | kArchive | kLink;

// The error that operation raises; a failure of the test when it raises none.
template <typename Operation> PlatformError raised(Operation operation) {
    try {
        operation();
    } catch (const PlatformError& error) {
        return error;
    }
    ADD_FAILURE() << "no error raised";
    return PlatformError({}, "", u"");
}

// The shell copy of everything in sourceFolder into destination, asking nothing.
inline int shellCopy(PlatformServices& platform, const std::filesystem::path& sourceFolder,
                     const std::filesystem::path& destination) {
    FileOpStruct op;
    op.pFrom = platformPathOf(sourceFolder) + u"\\*.*" + Text(2, u'\0');
    op.pTo = platformPathOf(destination) + u"\\" + Text(2, u'\0');
    op.fFlags = ShellFlag::NoConfirmation;
    return platform.shellFileOperation(op);
}

class PlatformTest : public ::testing::Test {
  protected:
    TempFolder temp; // outlives the platform, which may hold folders in it
    std::unique_ptr<PlatformServices> platform = makePlatformUnderTest();

    Text at(const std::filesystem::path& relative) { return platformPathOf(temp / relative); }
    std::uint32_t attributes(const std::filesystem::path& relative) {
        return platform->readAttributes(at(relative)) & kContractBits;
    }

    // Closes a listing on every way out.
    struct Listing {
        PlatformServices& platform;
        ListingHandle handle;
        ~Listing() {
            if (handle != kInvalidListing)
                platform.closeListing(handle);
        }
    };

    // The names and attributes of one listing, in order.
    std::vector<std::pair<Text, std::uint32_t>> list(const Text& pattern) {
        std::vector<std::pair<Text, std::uint32_t>> entries;
        FindData data;
        const Listing listing{*platform, platform->openListing(pattern, data)};
        for (bool more = listing.handle != kInvalidListing; more;
             more = platform->advanceListing(listing.handle, data))
            entries.emplace_back(data.cFileName.data(), data.dwFileAttributes & kContractBits);
        return entries;
    }
    // A listing of folder, advanced to the entry name (for the caller to close).
    ListingHandle listUntil(const Text& folder, const Text& name, FindData& data) {
        const ListingHandle listing = platform->openListing(folder + u"\\*.*", data);
        for (bool more = listing != kInvalidListing; more && Text(data.cFileName.data()) != name;)
            more = platform->advanceListing(listing, data);
        EXPECT_EQ(Text(data.cFileName.data()), name);
        return listing;
    }
    std::set<Text> names(const Text& pattern) {
        std::set<Text> found;
        for (const auto& entry : list(pattern))
            found.insert(entry.first);
        return found;
    }
};

} // namespace pellatrix::testing
