#pragma once

// Characters of a SID string buffer with its NUL.
constexpr unsigned kSidStringCapacity = 260;

// Writes the SID of the current process token's user in string form
// (for example "S-1-5-21-...") into sid (kSidStringCapacity characters).
// False when it cannot be obtained or does not fit; sid is then unchanged.
bool GetUserSidString(wchar_t* sid);
