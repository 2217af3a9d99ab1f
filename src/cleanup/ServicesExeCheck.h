#pragma once
// The service host image check: an image whose PE header lacks the
// address-space-randomisation flag (IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE)
// counts as infected.
#include <windows.h>

// Bytes read from the start of the image; the verdict looks at nothing else.
const DWORD HeaderSampleSize = 4096;

// The verdict on the first HeaderSampleSize bytes of an image: true when they
// hold a DOS header, an NT header wholly inside the sample and a
// DllCharacteristics without 0x0040; false in every other case.
bool SampleLacksDynamicBase(const unsigned char (&sample)[HeaderSampleSize]);

// True when the file is a readable PE image of more than HeaderSampleSize
// bytes whose header sample lacks the flag; false in every other case,
// unreadable and missing files included. Logs nothing.
bool ImageLacksDynamicBase(const char* path);

// The verdict on services.exe in the system directory; true = infected.
// False (clean) as well when the path is not available, after logging
// "Failed to get services.exe path". Under WoW64 the caller has switched
// file-system redirection off so that the native image is read.
bool ServicesExeIsInfected();
