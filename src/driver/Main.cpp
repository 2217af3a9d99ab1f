#include "driver/Entry.h"

int wmain(int argc, wchar_t** argv)
{
    return RunEntry(argc, argv);
}
