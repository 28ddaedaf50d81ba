#pragma once

#include <sys/types.h>

namespace platform {

// Copies size bytes from the descriptor in to the descriptor out, both at their current
// offsets, the fastest way this system has (in the kernel where it can). The errno of the
// call that failed, or 0; a source shorter than size ends the copy early without failing.
int copyFileContents(int in, int out, off_t size);

// The same through a buffer of the program's own: what works everywhere.
int copyFileContentsByReading(int in, int out, off_t size);

} // namespace platform
