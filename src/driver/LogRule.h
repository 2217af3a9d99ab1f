#pragma once
// The line of 80 hyphens that frames the banner and the platform lines in the log.

const wchar_t kLogRule[] = L"--------------------------------------------------------------------------------";
