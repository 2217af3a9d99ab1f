#pragma once
// The log call. Each call site owns one long-lived logging::Message, created
// on its first pass and reused afterwards; the format is a wide printf format
// of the system runtime ("%ws" and "%s" wide strings, "%hs" narrow strings).
// Allowed between StartLogging() and the last StopLogging().

namespace logging {

enum : int {
    LevelNone = 0,
    LevelEmergency = 8,
    LevelAlert = 16,
    LevelCritical = 24,
    LevelError = 32,
    LevelWarning = 40,
    LevelInfo = 72,
    LevelDebug = 80,
    LevelAll = 88,
};

class Message;

// One pass through a call site: creates the site's message when needed,
// formats the text and emits it. Never fails towards the caller.
void LogCall(Message** siteMessage, bool* siteCreated, int level, int line, const wchar_t* format, ...);

}  // namespace logging

// Counted start and stop of the logging subsystem; the last stop tears down
// every message, filter and registry.
int StartLogging();
void StopLogging();

#define LogAt(level, ...)                                                                   \
    do {                                                                                    \
        static ::logging::Message* logSiteMessage_ = nullptr;                               \
        static bool logSiteCreated_ = false;                                                \
        ::logging::LogCall(&logSiteMessage_, &logSiteCreated_, (level), __LINE__, __VA_ARGS__); \
    } while (0)

#define LogInfo(...) LogAt(::logging::LevelInfo, __VA_ARGS__)
#define LogDebug(...) LogAt(::logging::LevelDebug, __VA_ARGS__)
