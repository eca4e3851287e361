// File name patterns with the DOS meaning of '*' and '?', as FindFirstFileW matches them.
#pragma once

#include "platform/platform_services.h"

namespace pellatrix::linuxos {

bool hasWildcards(const Text& pattern);
// Case-insensitive. '*' matches any run of characters, '?' any one character. A pattern that
// ends in ".*" also matches names without that dot, so "*.*" matches every name.
bool matchesWildcard(const Text& pattern, const Text& name);

} // namespace pellatrix::linuxos
