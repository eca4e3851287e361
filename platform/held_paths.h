// The way from a Windows path to what a platform holds open, the same on every platform.
//
// The logic names everything by its path ("C:\Tolvex\Model\sub\a.txt"), while a platform holds
// folders open (descriptors, handles) and reaches what lies below them one name at a time,
// never by a path resolved anew. HeldPaths records what is held: folders held for the whole
// run (the destination) and the open listings, each with the entry it gave out last. For the
// path of a folder it answers where to start and which names lie below: the newest usable
// listing the path lies in, else the deepest held folder, else nothing, and the platform starts
// at its drive's root. A listing opened on the entry that the listing around it has just given
// out is recorded as that listing's child, known by that one name: a walk of any depth keeps
// one name per level, and a question about a path costs time in proportion to its length.
//
// The platform supplies what it holds under ids of its own, and how its file system compares
// names (exactly, or ignoring case).
#pragma once

#include "platform_services.h"

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace pellatrix {

class HeldPaths {
  public:
    using Id = std::intptr_t; // the platform's own: a listing handle or a held folder's number
    using SameName = bool (*)(std::u16string_view a, std::u16string_view b);

    explicit HeldPaths(SameName sameName) : sameName_(sameName) {}

    // Where the path of a folder leads from what is held.
    struct Place {
        Id from = 0;            // the listing or held folder to start at; 0 when nothing holds it
        bool isListing = false; // `from` is a listing (else a held folder)
        // The names below `from`, "\"-separated, a view into the path asked about; the whole
        // path when nothing holds it; empty for `from` itself.
        std::u16string_view below;
        bool listedLast = false; // `below` is one name: the entry that the listing gave out last
    };

    // The folder at `path` (without a trailing "\") is held for the run.
    void hold(Id folder, std::u16string_view path);
    // A listing was opened on `folder`, reached at `reachedAt` (what place() said for it).
    void opened(Id listing, std::u16string_view folder, const Place& reachedAt);
    // The listing gave out the entry `name`.
    void gave(Id listing, std::u16string_view name);
    // The listing was closed. Listings opened below it stand alone from now on.
    void closed(Id listing);

    // Where `folder` (a path, with or without a trailing "\") lies. Listings for which `usable`
    // says false (a platform may have put one aside) are passed over.
    Place place(std::u16string_view folder, const std::function<bool(Id)>& usable = {}) const;
    // Whether `name` in the folder at `at` is the entry that its listing gave out last.
    bool isListedLast(const Place& at, std::u16string_view name) const;

    // The listing opened last and still open, 0 when none; the path of a listing's folder
    // (error reports).
    Id innermost() const { return listings_.empty() ? 0 : listings_.back().id; }
    Text pathOf(Id listing) const;

    // Without its trailing separators; a drive root stays "C:".
    static std::u16string_view withoutTrailingSeparators(std::u16string_view path);

  private:
    struct Listing {
        Id id;
        Id parent;            // 0: `name` is the folder's whole path
        std::size_t parentAt; // the parent's place in listings_
        Text name;            // the folder's name in the parent's folder
        std::size_t length;   // of the folder's whole path
        Text lastGiven;
    };
    struct Held {
        Id id;
        Text path;
    };

    const Listing* find(Id listing) const;
    const Listing* parentOf(const Listing& listing) const {
        return listing.parent ? &listings_[listing.parentAt] : nullptr;
    }
    // Whether `path` is the listing's folder or lies below it; `below` gets the names below.
    bool contains(const Listing& listing, std::u16string_view path,
                  std::u16string_view& below) const;

    SameName sameName_;
    std::vector<Listing> listings_; // in the order they were opened
    // The whole path of the listing asked about last: a walk asks about its innermost listing
    // again and again, and a path compared whole is quicker than one compared name by name.
    mutable Id knownId_ = 0;
    mutable Text knownPath_;
    std::vector<Held> held_;
};

} // namespace pellatrix
