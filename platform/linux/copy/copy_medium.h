// How many files a copy reads at once, from what the medium is.
#pragma once

namespace pellatrix::linuxos {

// The number of threads that copy files from the open folder `source`: one on a spinning disk
// or an optical drive (the kernel says "rotational"), where reading two files at once makes
// the head seek between them; a few elsewhere (solid-state and memory file systems, network
// shares), up to the number of processors.
unsigned copyThreadsFor(int source);

} // namespace pellatrix::linuxos
