// Reproducible trees of files for the benchmarks: the same shape and seed give the same names,
// sizes, contents and read-only files on every machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pellatrix::bench {

struct TreeShape {
    // Subfolders per folder at each level below the root: {20, 99} gives 20 folders in the
    // root and 99 in each of those. Empty for one flat folder.
    std::vector<unsigned> foldersPerLevel;
    unsigned filesPerFolder = 10;  // in every folder, the root included
    std::uint64_t fileSize = 2048; // bytes
    double readOnlyShare = 0.25;   // the share of files with no write bit (mode 0444)
    std::uint64_t seed = 1;
};

struct TreeSize {
    std::uint64_t folders = 0; // below the root
    std::uint64_t files = 0;
    std::uint64_t readOnlyFiles = 0;
    std::uint64_t bytes = 0;
    std::uint64_t entries() const { return folders + files; }
};

// Writes the tree into root, which must not exist yet. Throws std::system_error on failure.
TreeSize generateTree(const std::string& root, const TreeShape& shape);

// Makes the same files read-only again (after a walk made them writable), without rewriting
// any data. Returns the number of files changed.
std::uint64_t restoreReadOnly(const std::string& root, const TreeShape& shape);

// The size a shape gives, without touching the disk.
TreeSize sizeOf(const TreeShape& shape);

// Parses "20,99" (or "" for flat) into folder counts per level.
std::vector<unsigned> parseLevels(const std::string& text);

} // namespace pellatrix::bench
