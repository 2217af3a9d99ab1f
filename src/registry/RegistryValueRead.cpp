#include "registry/RegistryValueRead.h"

#include <cstring>

namespace {

RegistryValueQuery valueQuery = RegQueryValueExW;

}  // namespace

void SetRegistryValueQuery(RegistryValueQuery query)
{
    valueQuery = query != nullptr ? query : RegQueryValueExW;
}

LONG ReadRegistryValue(HKEY key, const wchar_t* name, RegistryValueData* value, DWORD spare)
{
    LONG result = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 4 && result == ERROR_MORE_DATA; ++attempt) {
        DWORD size = 0;
        result = valueQuery(key, name, nullptr, nullptr, nullptr, &size);
        if (result != ERROR_SUCCESS)
            break;
        if (size > MAXDWORD - spare)
            result = ERROR_NOT_ENOUGH_MEMORY;
        else if (!(value->data = AllocateHeapBytes(size + spare)))
            result = ERROR_NOT_ENOUGH_MEMORY;
        else
            result = valueQuery(key, name, nullptr, &value->type, value->data.get(), &size);
        if (result == ERROR_SUCCESS) {
            value->size = size;
            memset(value->data.get() + size, 0, spare);
        }
    }
    if (result != ERROR_SUCCESS)
        value->data.reset();
    return result;
}
