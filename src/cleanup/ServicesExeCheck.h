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

// What the header of a file says.
enum class ImageVerdict {
    Unreadable,        // not opened, not sized or not read: nothing is known
    NotExamined,       // HeaderSampleSize bytes or fewer, or no PE header in the sample
    LacksDynamicBase,  // infected
    HasDynamicBase,
};
ImageVerdict JudgeImage(const char* path);

// The Machine field of the file's PE header (IMAGE_FILE_MACHINE_I386,
// IMAGE_FILE_MACHINE_AMD64, ...); false when the file is no readable image
// of more than HeaderSampleSize bytes with a PE header in its sample.
bool ReadImageMachine(const char* path, WORD* machine);

// True when the file is a readable PE image of more than HeaderSampleSize
// bytes whose header sample lacks the flag; false in every other case,
// unreadable and missing files included. Logs nothing.
bool ImageLacksDynamicBase(const char* path);

enum class ServicesExeVerdict { Clean, Infected, Unchecked };

// The verdict on services.exe in the native system directory (redirection is
// switched off around the read). Unchecked when the path is not available,
// after logging "Failed to get services.exe path", or when the image cannot
// be read: an image the administrators may not read is no clean one.
ServicesExeVerdict CheckServicesExe();

// CheckServicesExe() == ServicesExeVerdict::Infected.
bool ServicesExeIsInfected();
