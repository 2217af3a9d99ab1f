#include "driver/Entry.h"

int RunEntry(int, wchar_t**)
{
    return 0;
}
