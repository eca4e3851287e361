// The program's own copy and walk, driven as the program drives them: the shell copy request
// on the Linux platform, then LostReadOnlyDir over the destination, with every question
// answered by script and nothing shown.
#pragma once

#include <string>

namespace pellatrix::bench {

// Copies everything in sourceFolder into destinationFolder (native paths). True when the
// copy reported no failure.
bool copyWithOurCode(const std::string& sourceFolder, const std::string& destinationFolder);

// Makes every read-only file under folder writable (native path), and syncs what it changed.
void walkWithOurCode(const std::string& folder);

} // namespace pellatrix::bench
