// One open listing of a folder, in the manner of FindFirstFileW: the entries whose names
// match the pattern, "." and ".." first except at a drive root, read lazily so that a folder
// of any size costs constant memory.
//
// The listing reads its folder through a reader that a level of the platform's tree walk owns
// (folder_stack.h): the walk opens each level from the one around it, puts the outer ones
// aside and takes them up again, so the listing keeps no descriptor and no path of its own.
//
// Entries are taken from the folder in runs, whose attributes a helper thread reads from the
// far end while the listing gives them out from the near end (entry_run.h).
#pragma once

#include "platform/linux/files/entry_run.h"
#include "platform/linux/sys/directory_reader.h"
#include "platform/platform_services.h"

#include <functional>
#include <string>
#include <string_view>

namespace pellatrix::linuxos {

// Fills a find record with one entry.
void setFindData(FindData& data, std::uint32_t attributes, const Text& windowsName);

class DirectoryListing {
  public:
    // Names the listing's folder, ending in "\", for an error report.
    using FolderName = std::function<Text()>;

    // A listing of the folder that `reader` reads (owned by a level of the walk, and kept
    // there while the listing lives). parent: the listing in which the folder was listed, or
    // nullptr. pattern: the DOS pattern of the entries. dots: give "." and ".." first.
    // helper: a thread that reads entries ahead, or nullptr.
    DirectoryListing(DirectoryReader& reader, const DirectoryListing* parent, Text pattern,
                     bool dots, FolderName folderName, EntryRunHelper* helper = nullptr);
    ~DirectoryListing();
    DirectoryListing(const DirectoryListing&) = delete;
    DirectoryListing& operator=(const DirectoryListing&) = delete;

    // Fills data with the next matching entry; false when none is left. Raises PlatformError
    // naming the folder when the folder cannot be read, or an entry's attributes cannot be.
    bool next(FindData& data);

    // The folder's descriptor; -1 while the walk has put it aside.
    int fd() const { return reader_.fd(); }
    bool isAside() const { return reader_.isAside(); }
    // The native name of the entry given out last, its attributes as read then, and whether it
    // was a folder.
    const std::string& lastName() const { return lastName_; }
    std::uint32_t lastAttributes() const { return lastAttributes_; }
    const Text& lastWindowsName() const { return lastWindowsName_; }
    // What reading the entry given out last found, for a change of its attributes.
    const EntryRead& lastRead() const { return lastRead_; }

    // Lets go of what is read ahead of the folder, before the walk puts it aside.
    void prepareAside();
    // The walk could not take the folder up again (errno `error`): the next call of next()
    // raises it, where the walk can report it.
    void failTakeUp(int error) { takeUpError_ = error; }

  private:
    // Reads the next run of matching entries from the folder; false when none is left.
    bool startRun();
    // Ends the run: the helper lets go of it.
    void endRun();
    // Reads the entry's attributes and gives it out; false when it has vanished.
    bool fill(FindData& data, const char* name, const Text& windowsName);
    void give(FindData& data, const char* name, const Text& windowsName, std::uint32_t attributes);

    DirectoryReader& reader_;
    const DirectoryListing* parent_;
    Text pattern_;
    int dotsPending_; // "." and ".." still to give out
    FolderName folderName_;
    int takeUpError_ = 0;  // errno of a failed take-up, raised by next()
    std::string lastName_; // the entry given out last
    std::uint32_t lastAttributes_ = 0;
    Text lastWindowsName_;
    EntryRead lastRead_;
    EntryRunHelper* helper_;
    EntryRun run_;             // entries read from the folder, their attributes being read
    std::size_t runAt_ = 0;    // the next one to give out
    int runEndError_ = 0;      // errno of a folder read that failed after the run
    bool readerAtEnd_ = false; // the folder has been read to its end
    bool lastWasFolder_ = false;
    std::uint32_t ownAttributes_ = 0; // the folder's own, as read once
    bool ownAttributesKnown_ = false;
};

} // namespace pellatrix::linuxos
