#pragma once
// Objects shared by the whole logging subsystem from their first use to the
// final teardown.

namespace logging {

class Filter;
class FormatterMSVC;
class Mutex;
class Timer;

Filter*& DefaultFilterSlot();
// The shared default formatter, created when missing.
FormatterMSVC* DefaultFormatter();
void DeleteDefaultFormatter();
// The timer, created when missing.
Timer* SharedTimer();
void DeleteSharedTimer();
// The lock held while a call site checks and creates its message, created
// when missing (safe against two first calls at once).
Mutex* MessageCreationLock();
void DeleteMessageCreationLock();

}  // namespace logging
