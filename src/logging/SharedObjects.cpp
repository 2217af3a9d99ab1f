#include "logging/SharedObjects.h"

#include <windows.h>

#include "logging/FormatterMSVC.h"
#include "logging/Mutex.h"
#include "logging/Timer.h"

namespace logging {

namespace {
Filter* defaultFilter = nullptr;
FormatterMSVC* defaultFormatter = nullptr;
Timer* timer = nullptr;
Mutex* volatile messageCreationLock = nullptr;
}  // namespace

Filter*& DefaultFilterSlot()
{
    return defaultFilter;
}

FormatterMSVC* DefaultFormatter()
{
    if (!defaultFormatter)
        defaultFormatter = new FormatterMSVC;
    return defaultFormatter;
}

void DeleteDefaultFormatter()
{
    delete defaultFormatter;
    defaultFormatter = nullptr;
}

Timer* SharedTimer()
{
    if (!timer)
        timer = new Timer;
    return timer;
}

void DeleteSharedTimer()
{
    delete timer;
    timer = nullptr;
}

Mutex* MessageCreationLock()
{
    Mutex* lock = messageCreationLock;
    if (lock)
        return lock;
    Mutex* created = new Mutex;
    if (!created)
        return nullptr;
    // Two first calls at once: the one that loses the exchange drops its lock.
    Mutex* previous = static_cast<Mutex*>(
        InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&messageCreationLock), created, nullptr));
    if (previous) {
        delete created;
        return previous;
    }
    return created;
}

void DeleteMessageCreationLock()
{
    delete messageCreationLock;
    messageCreationLock = nullptr;
}

}  // namespace logging
