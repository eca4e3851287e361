// The Linux platform's listings as the read-only removal walk uses them: folders put aside and
// taken up again, and attributes read once, on two threads.
#include "platform/linux/file_attributes.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/quiet_user_interface.h"
#include "platform/platform_error.h"
#include "platform/text_encoding.h"
#include "temp_folder.h"
#include "walker/lost_read_only_dir.h"

#include <gtest/gtest.h>

#include <map>
#include <sys/xattr.h>

namespace pellatrix::linux {
namespace {

using testing::TempFolder;

LinuxPlatform makePlatform() {
    return LinuxPlatform(DriveMapping("/nonexistent-pellatrix-c"),
                         std::make_unique<QuietUserInterface>(Reply::Yes));
}

TEST(AsideListingTest, AFolderMovedAwayWhileItsListingWasAsideIsNotWalkedOn) {
    // Seventeen listings open below the first put it aside; it is taken up through ".." of the
    // one below it, which now lies elsewhere: going on there would walk another folder.
    TempFolder temp;
    std::filesystem::path deepest = temp / "top";
    for (int level = 0; level < 18; ++level)
        deepest /= "d";
    std::filesystem::create_directories(deepest);
    LinuxPlatform platform = makePlatform();
    Text folder = platform.drives().windowsPathOf((temp / "top").string()) + u"\\";
    std::vector<ListingHandle> listings;
    FindData data;
    for (int level = 0; level < 18; ++level, folder += u"d\\") {
        listings.push_back(platform.openListing(folder + u"*.*", data));
        while (Text(data.cFileName.data()) != u"d")
            ASSERT_TRUE(platform.advanceListing(listings.back(), data));
    }
    std::filesystem::rename(temp / "top" / "d", temp / "elsewhere");
    for (int level = 17; level > 0; --level)
        platform.closeListing(listings[static_cast<std::size_t>(level)]);
    EXPECT_THROW(while (platform.advanceListing(listings[0], data)){}, PlatformError);
    platform.closeListing(listings[0]);
}

TEST(ListedAttributesTest, AttributesReadByTheListingAnswerOnlyUntilSomethingChangesThem) {
    // The listing's own read answers readAttributes for the entry it has just given out, and
    // its folder's read answers "." and ".." below it; a set, or a listing opened meanwhile,
    // makes the next read go to the disk.
    TempFolder temp;
    testing::writeFile(temp / "hidden" / "f", "x");
    testing::makeReadOnly(temp / "hidden" / "f");
    ASSERT_EQ(setxattr((temp / "hidden").c_str(), kDosAttributeName, "0x2", 3, 0), 0);
    LinuxPlatform platform = makePlatform();
    const Text top = platform.drives().windowsPathOf(temp.path().string()) + u"\\";
    FindData data;
    const auto listUntil = [&](const Text& folder, const Text& name) {
        const ListingHandle listing = platform.openListing(folder + u"*.*", data);
        while (listing != kInvalidListing && Text(data.cFileName.data()) != name)
            if (!platform.advanceListing(listing, data))
                ADD_FAILURE() << "no " << toUtf8(name);
        return listing;
    };
    constexpr std::uint32_t kHiddenFolder = FileAttribute::Directory | FileAttribute::Hidden;
    const ListingHandle outer = listUntil(top, u"hidden");
    EXPECT_EQ(data.dwFileAttributes, kHiddenFolder);
    const ListingHandle inner = platform.openListing(top + u"hidden\\*.*", data);
    EXPECT_EQ(data.dwFileAttributes, kHiddenFolder) << ". is the folder itself";
    ASSERT_TRUE(platform.advanceListing(inner, data));
    EXPECT_EQ(data.dwFileAttributes, FileAttribute::Directory) << ".. is the folder above";
    ASSERT_TRUE(platform.advanceListing(inner, data));
    ASSERT_EQ(Text(data.cFileName.data()), u"f");
    const Text f = top + u"hidden\\f";
    constexpr std::uint32_t kReadOnlyFile = FileAttribute::Archive | FileAttribute::ReadOnly;
    EXPECT_EQ(platform.readAttributes(f), kReadOnlyFile);
    platform.setAttributes(f, FileAttribute::Archive);
    EXPECT_EQ(platform.readAttributes(f), FileAttribute::Archive) << "read again after a set";
    platform.closeListing(inner);
    std::filesystem::permissions(temp / "hidden", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_EQ(platform.readAttributes(top + u"hidden"), kHiddenFolder | FileAttribute::ReadOnly)
        << "read again once a listing was opened below";
    platform.closeListing(outer);
}

TEST(ListedAttributesTest, AFolderReadOnTwoThreadsGivesEachEntryOnceWithItsOwnAttributes) {
    // Runs of entries are read by the listing's thread and a helper at once, a run ending at
    // each folder: every entry must come once, with its own attributes, and be walked.
    TempFolder temp;
    std::map<Text, std::uint32_t> expected = {{u".", FileAttribute::Directory},
                                              {u"..", FileAttribute::Directory}};
    for (int i = 0; i < 300; ++i) {
        const std::string name = (i % 40 == 7 ? "d" : "f") + std::to_string(i);
        std::uint32_t attributes = FileAttribute::Archive;
        if (i % 40 == 7) {
            std::filesystem::create_directory(temp / name);
            attributes = FileAttribute::Directory;
        } else {
            testing::writeFile(temp / name, name);
        }
        if (i % 3 == 0) {
            testing::makeReadOnly(temp / name);
            attributes |= FileAttribute::ReadOnly;
        }
        if (i % 5 == 0) {
            ASSERT_EQ(setxattr((temp / name).c_str(), kDosAttributeName, "0x2", 3, 0), 0);
            attributes |= FileAttribute::Hidden;
        }
        expected[fromUtf8(name)] = attributes;
    }
    LinuxPlatform platform = makePlatform();
    const Text top = platform.drives().windowsPathOf(temp.path().string()) + u"\\";
    std::map<Text, std::uint32_t> listed;
    FindData data;
    const ListingHandle listing = platform.openListing(top + u"*.*", data);
    ASSERT_NE(listing, kInvalidListing);
    do {
        EXPECT_TRUE(listed.emplace(Text(data.cFileName.data()), data.dwFileAttributes).second)
            << toUtf8(data.cFileName.data()) << " twice";
    } while (platform.advanceListing(listing, data));
    platform.closeListing(listing);
    EXPECT_EQ(listed, expected);
    LostReadOnlyDir(platform).Change(top);
    for (const auto& [name, attributes] : expected)
        if (!(attributes & FileAttribute::Directory)) {
            EXPECT_FALSE(testing::isReadOnly(temp / toUtf8(name))) << toUtf8(name);
        }
}

} // namespace
} // namespace pellatrix::linux
