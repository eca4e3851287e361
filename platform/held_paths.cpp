// Paths mapped onto held folders and open listings.
#include "held_paths.h"

#include <algorithm>

namespace pellatrix {

std::u16string_view HeldPaths::withoutTrailingSeparators(std::u16string_view path) {
    while (path.size() > 1 && path.back() == u'\\' && !(path.size() == 3 && path[1] == u':'))
        path.remove_suffix(1);
    if (path.size() == 3 && path[1] == u':' && path[2] == u'\\')
        path.remove_suffix(1);
    return path;
}

void HeldPaths::hold(Id folder, std::u16string_view path) {
    held_.push_back({folder, Text(withoutTrailingSeparators(path))});
}

void HeldPaths::opened(Id listing, std::u16string_view folder, const Place& reachedAt) {
    folder = withoutTrailingSeparators(folder);
    if (reachedAt.isListing && reachedAt.listedLast) {
        const Listing* parent = find(reachedAt.from);
        listings_.push_back({listing,
                             parent->id,
                             static_cast<std::size_t>(parent - listings_.data()),
                             Text(reachedAt.below),
                             parent->length + 1 + reachedAt.below.size(),
                             {}});
    } else {
        listings_.push_back({listing, 0, 0, Text(folder), folder.size(), {}});
    }
}

void HeldPaths::gave(Id listing, std::u16string_view name) {
    // The walk's own listing is the last one opened: looked up from the end, it is found first.
    for (auto it = listings_.rbegin(); it != listings_.rend(); ++it)
        if (it->id == listing) {
            it->lastGiven.assign(name);
            return;
        }
}

void HeldPaths::closed(Id listing) {
    const auto it = std::find_if(listings_.rbegin(), listings_.rend(),
                                 [listing](const Listing& l) { return l.id == listing; });
    if (it == listings_.rend())
        return;
    const auto at = std::prev(it.base());
    const auto index = static_cast<std::size_t>(at - listings_.begin());
    for (auto later = at + 1; later != listings_.end(); ++later) {
        if (later->parent == listing) {
            later->name = pathOf(later->id);
            later->parent = 0;
        } else if (later->parent && later->parentAt > index) {
            --later->parentAt;
        }
    }
    listings_.erase(at);
}

HeldPaths::Place HeldPaths::place(std::u16string_view folder,
                                  const std::function<bool(Id)>& usable) const {
    folder = withoutTrailingSeparators(folder);
    Place found;
    for (auto it = listings_.rbegin(); it != listings_.rend(); ++it) {
        if ((!usable || usable(it->id)) && contains(*it, folder, found.below)) {
            found.from = it->id;
            found.isListing = true;
            found.listedLast = !found.below.empty() && sameName_(found.below, it->lastGiven);
            return found;
        }
    }
    const Held* deepest = nullptr;
    for (const Held& held : held_) {
        const std::size_t length = held.path.size();
        const bool inside =
            folder.size() == length || (folder.size() > length && folder[length] == u'\\');
        if (inside && sameName_(folder.substr(0, length), held.path) &&
            (!deepest || length > deepest->path.size()))
            deepest = &held;
    }
    if (deepest) {
        const std::size_t length = deepest->path.size();
        found.from = deepest->id;
        found.below = folder.size() == length ? std::u16string_view() : folder.substr(length + 1);
        return found;
    }
    found.below = folder;
    return found;
}

bool HeldPaths::isListedLast(const Place& at, std::u16string_view name) const {
    if (!at.isListing || !at.below.empty())
        return false;
    const Listing* listing = find(at.from);
    return listing && !listing->lastGiven.empty() && sameName_(name, listing->lastGiven);
}

Text HeldPaths::pathOf(Id listing) const {
    const Listing* level = find(listing);
    if (!level)
        return {};
    Text path(level->length, u'\\'); // the separators are in place already
    std::size_t end = level->length;
    for (; level; level = parentOf(*level)) {
        end -= level->name.size();
        std::copy(level->name.begin(), level->name.end(), path.begin() + end);
        if (level->parent)
            --end;
    }
    return path;
}

const HeldPaths::Listing* HeldPaths::find(Id listing) const {
    for (auto it = listings_.rbegin(); it != listings_.rend(); ++it)
        if (it->id == listing)
            return &*it;
    return nullptr;
}

bool HeldPaths::contains(const Listing& listing, std::u16string_view path,
                         std::u16string_view& below) const {
    const std::size_t length = listing.length;
    if (path.size() < length || (path.size() > length && path[length] != u'\\'))
        return false;
    if (&listing == &listings_.back()) {
        if (knownId_ != listing.id) {
            knownPath_ = pathOf(listing.id);
            knownId_ = listing.id; // ids are never given twice, so this stays true
        }
        if (!sameName_(path.substr(0, length), knownPath_))
            return false;
        below = path.size() == length ? std::u16string_view() : path.substr(length + 1);
        return true;
    }
    std::size_t end = length;
    const Listing* level = &listing;
    for (; level->parent; level = parentOf(*level)) {
        const std::size_t size = level->name.size();
        if (end <= size || path[end - size - 1] != u'\\' ||
            !sameName_(path.substr(end - size, size), level->name))
            return false;
        end -= size + 1;
    }
    if (end != level->name.size() || !sameName_(path.substr(0, end), level->name))
        return false;
    below = path.size() == length ? std::u16string_view() : path.substr(length + 1);
    return true;
}

} // namespace pellatrix
