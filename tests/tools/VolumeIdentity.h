#pragma once
// What the volume identity launcher and its DLL share: Wine gives the system
// volume no identity (no "\systemroot" object, no named streams or reparse
// points), so the launcher loads the DLL into the program it starts, and the
// DLL answers the program's volume queries as an NTFS system volume created
// at the time the launcher passes on.

// The DLL, beside the launcher.
const wchar_t kVolumeIdentityDll[] = L"volume_identity.dll";

// The volume's creation time (FILETIME, 16 hexadecimal digits), passed to
// the DLL in the started program's environment.
const wchar_t kCreationTimeVariable[] = L"VORN_VOLUME_CREATION_TIME";
