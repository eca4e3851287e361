// One open listing of a folder, in the manner of FindFirstFileW: the entries whose names
// match the pattern, "." and ".." first except at a drive root, read lazily so that a folder
// of any size costs constant memory.
//
// A listing holds its folder's descriptor, and knows where it sits without keeping its path:
// the first listing of a walk keeps the Windows path of its folder, every listing opened
// below it keeps only its parent listing and its own name, so a walk of any depth keeps one
// name per level. A listing can be put aside (descriptor closed, buffer freed) and taken up
// again later on a descriptor of the same folder.
//
// Entries are taken from the folder in runs, whose attributes a helper thread reads from the
// far end while the listing gives them out from the near end (entry_run.h).
#pragma once

#include "platform/linux/files/entry_run.h"
#include "platform/linux/sys/directory_reader.h"
#include "platform/platform_services.h"

#include <string>
#include <string_view>

namespace pellatrix::linuxos {

// Fills a find record with one entry.
void setFindData(FindData& data, std::uint32_t attributes, const Text& windowsName);

class DirectoryListing {
  public:
    // A listing of the open folder `folder`. parent: the listing in which the folder was
    // listed, with `name` the folder's Windows name in it; or nullptr, with `name` the
    // folder's whole Windows path, ending in "\". pattern: the DOS pattern of the entries.
    // dots: give "." and ".." first. helper: a thread that reads entries ahead, or nullptr.
    DirectoryListing(UniqueFd folder, DirectoryListing* parent, Text name, Text pattern, bool dots,
                     EntryRunHelper* helper = nullptr);
    ~DirectoryListing();
    DirectoryListing(const DirectoryListing&) = delete;
    DirectoryListing& operator=(const DirectoryListing&) = delete;

    // Fills data with the next matching entry; false when none is left. Raises PlatformError
    // naming the folder when the folder cannot be read, or an entry's attributes cannot be.
    bool next(FindData& data);

    // The folder's descriptor; -1 while the listing is aside.
    int fd() const { return reader_.fd(); }
    bool isAside() const { return reader_.isAside(); }
    DirectoryListing* parent() const { return parent_; }
    // The native name of the entry given out last, its attributes as read then, and whether it
    // was a folder.
    const std::string& lastName() const { return lastName_; }
    std::uint32_t lastAttributes() const { return lastAttributes_; }
    const Text& lastWindowsName() const { return lastWindowsName_; }
    // What reading the entry given out last found, for a change of its attributes.
    const EntryRead& lastRead() const { return lastRead_; }
    bool lastWasFolder() const { return lastWasFolder_; }

    // True when windowsFolder (ending in "\") names this listing's folder, compared along the
    // chain of parents, one name per level.
    bool isFolder(std::u16string_view windowsFolder) const;
    // The Windows path of the folder, ending in "\": for error reports.
    Text windowsFolder() const;

    // Closes the descriptor and frees the buffer. Raises PlatformError when the folder's
    // identity cannot be read.
    void putAside();
    // Takes the listing up again on the parent of the open folder childFd (its ".."), which
    // must be the same folder as before. A failure is kept and raised by the
    // next call of next(), where the walk can report it.
    void takeUpFrom(int childFd);
    // Makes the listing stand alone: it keeps its whole Windows path instead of its parent.
    void detachFromParent();

  private:
    // Reads the next run of matching entries from the folder; false when none is left.
    bool startRun();
    // Ends the run: the helper lets go of it.
    void endRun();
    // Reads the entry's attributes and gives it out; false when it has vanished.
    bool fill(FindData& data, const char* name, const Text& windowsName);
    void give(FindData& data, const char* name, const Text& windowsName, std::uint32_t attributes);

    DirectoryReader reader_;
    DirectoryListing* parent_;
    Text name_; // the Windows name in the parent, or the whole Windows path without a parent
    Text pattern_;
    int dotsPending_;      // "." and ".." still to give out
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
