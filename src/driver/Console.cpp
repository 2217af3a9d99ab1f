#include "driver/Console.h"

#include <cstdio>
#include <iostream>

#include "driver/LogRule.h"
#include "driver/ProductInfo.h"
#include "logging/Log.h"
#include "win/LogDirectory.h"

namespace {

// Refreshed by every colour switch; only wAttributes is used.
CONSOLE_SCREEN_BUFFER_INFO consoleState;

std::ostream& SwitchColour(std::ostream& stream, WORD foreground)
{
    stream.flush();
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    // Fails when output is redirected: the record keeps its last contents.
    GetConsoleScreenBufferInfo(output, &consoleState);
    consoleState.wAttributes = static_cast<WORD>((consoleState.wAttributes & 0xF0) | foreground);
    SetConsoleTextAttribute(output, consoleState.wAttributes);
    return stream;
}

}  // namespace

std::ostream& BrightColour(std::ostream& stream)
{
    return SwitchColour(stream, FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY);
}

std::ostream& NormalColour(std::ostream& stream)
{
    return SwitchColour(stream, FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE);
}

void PrintBanner()
{
    std::cout << BrightColour << kProductNameA << " v" << kProductVersionA << " (" << kBuildDateA << " "
              << kBuildTimeA << ")\n"
              << "Removes the Win32/Tarnvex.EV rootkit and repairs the system parts it damaged.\n"
              << "\n"
              << NormalColour;
    printf("If you need only services restoration run \"VORNTarnvexEvCleaner -r\"\n");

    LogInfo(kLogRule);
    LogInfo(L"%ws v%ws (%ws %ws)", kProductName, kProductVersion, kBuildDate, kBuildTime);
}

void PrintFinishedNotice(CurrentDirectoryQuery query)
{
    char directory[MAX_PATH];
    DWORD length = query(MAX_PATH, directory);
    if (length >= 1 && length < MAX_PATH && LogDirectoryPrefixA()[0] == '\0')
        printf("Cleaner finished, check %s directory for logs\n", directory);
    else if (length >= 1 && length < MAX_PATH)
        printf("Cleaner finished, check %s\\RA Ravariv directory for logs\n", directory);
    else
        printf("Cleaner finished, check \"RA Ravariv\" directory for logs\n");
}
