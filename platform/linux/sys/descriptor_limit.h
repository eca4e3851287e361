// How many descriptors the process may open.
#pragma once

#include <cstddef>

namespace pellatrix::linuxos {

// Raises the process's soft limit on open descriptors to its hard limit, as programs that
// hold many files open do: the default soft limit (often 1,024) is kept low only for programs
// that pass descriptors to select(). Errno style: false with errno set when refused.
bool raiseDescriptorLimit();

// The soft limit on open descriptors; a generous figure where it cannot be read.
std::size_t descriptorsAllowed();

} // namespace pellatrix::linuxos
