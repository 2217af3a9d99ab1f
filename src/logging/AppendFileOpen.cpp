#include "logging/AppendFileOpen.h"

#include <share.h>

#include <cerrno>

namespace logging {

int OpenForAppendUnshared(const char* path, FILE** stream)
{
    *stream = nullptr;
    if (!path)
        return EINVAL;
    errno = 0;
    *stream = _fsopen(path, "ab", _SH_DENYRW);
    return *stream ? 0 : errno;
}

}  // namespace logging
