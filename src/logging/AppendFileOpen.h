#pragma once
#include <cstdio>

namespace logging {

// Opens path for appending in binary mode, unshared while open: every write
// goes to the end of the file, bytes are written unchanged and no other
// process can open the file meanwhile. A link (reparse point) in the file's
// place is not followed and a file with other names (hard links) is not
// written: both give EACCES. Returns 0 and the stream, or the
// runtime's error number and no stream. Behaves as the bounded runtime open
// that the runtime of Windows XP does not have.
int OpenForAppendUnshared(const char* path, FILE** stream);

}  // namespace logging
