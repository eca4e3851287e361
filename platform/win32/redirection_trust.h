// The redirection-trust mitigation: the process then ignores junctions and links that a
// non-administrator made, so they cannot send the copy somewhere else.
#pragma once

namespace pellatrix::win32 {

// Turns the mitigation on where Windows offers it (Windows 10 21H2 and later). Looked up
// at run time, so older Windows and Wine run on without it. Returns whether it is on.
bool enforceRedirectionTrust() noexcept;

} // namespace pellatrix::win32
