#pragma once
// The syntax of registry scripts ("Windows Registry Editor Version 5.00"):
// key headers and value lines that `reg import` and the registry editor read
// back to the same type and bytes. Text goes to a caller's output in pieces,
// so a value of any size needs no buffer of its size.
#include <windows.h>

#include <cstddef>

// Takes the next piece of text; false stops the writing.
struct ScriptOutput {
    bool (*write)(void* context, const wchar_t* text, size_t length);
    void* context;
};

extern const wchar_t kScriptHeader[];  // the first line, with CR LF; every block starts with an empty line

// "[HKEY_LOCAL_MACHINE\<path>]" (or "[-...]" for removal) and CR LF; keyName
// starts with the full name of its root.
bool WriteScriptKey(const ScriptOutput& out, const wchar_t* keyName, bool removal);

// One value as the line that writes it back: a plain string for REG_SZ text
// with one NUL at its end and no control characters, dword: for a 4-byte
// REG_DWORD, hex: for REG_BINARY, hex(N): for every other type and shape.
// Hex lines are folded as the registry editor folds them. name null is the
// default value ("@").
bool WriteScriptValue(const ScriptOutput& out, const wchar_t* name, DWORD type, const BYTE* data, DWORD size);

// "<name>"=- : importing removes the value.
bool WriteScriptRemovedValue(const ScriptOutput& out, const wchar_t* name);

// A comment line ("; " text CR LF).
bool WriteScriptComment(const ScriptOutput& out, const wchar_t* text);
