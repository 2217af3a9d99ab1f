#include <cstdarg>

#include "logging/Allocator.h"
#include "logging/Log.h"
#include "logging/Message.h"
#include "logging/SharedObjects.h"

namespace logging {

void LogCall(Message** siteMessage, bool* siteCreated, int level, int line, const wchar_t* format, ...)
{
    // Outside the interval of logging there is nothing to allocate from.
    if (!AllocatorActive())
        return;
    Mutex* creationLock = MessageCreationLock();
    if (!creationLock)
        return;
    Message* message;
    {
        ScopedLock lock(*creationLock);
        if (!*siteCreated)
            *siteMessage = new Message(level, siteCreated, line, 0.0);
        message = *siteCreated ? *siteMessage : nullptr;
    }
    if (!message)
        return;
    ScopedLock lock(message->transmitLock);
    va_list args;
    va_start(args, format);
    message->FormatTextV(format, args);
    va_end(args);
    message->Emit();
}

}  // namespace logging
