#pragma once
// The product strings shown in the banner and written to the log. The build
// date and time are those of release 1.0.0.7, not of the local build.

#define VORN_PRODUCT_NAME "VORN Win32/Tarnvex.EV Cleaner"
#define VORN_PRODUCT_VERSION "1.0.0.7"
#define VORN_BUILD_DATE "Dec  4 2012"
#define VORN_BUILD_TIME "11:33:22"

#define VORN_WIDEN2(s) L##s
#define VORN_WIDEN(s) VORN_WIDEN2(s)

const char kProductNameA[] = VORN_PRODUCT_NAME;
const char kProductVersionA[] = VORN_PRODUCT_VERSION;
const char kBuildDateA[] = VORN_BUILD_DATE;
const char kBuildTimeA[] = VORN_BUILD_TIME;

const wchar_t kProductName[] = VORN_WIDEN(VORN_PRODUCT_NAME);
const wchar_t kProductVersion[] = VORN_WIDEN(VORN_PRODUCT_VERSION);
const wchar_t kBuildDate[] = VORN_WIDEN(VORN_BUILD_DATE);
const wchar_t kBuildTime[] = VORN_WIDEN(VORN_BUILD_TIME);
