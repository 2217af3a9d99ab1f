// Kept apart from the pass itself, so that a program or test that never runs
// the built-in table links without the table library.
#include "registry/ServicesRestore.h"

void RestoreServices(uint32_t versionCode)
{
    RestoreServicesFromTable(versionCode, BuiltInKnownGoodTable());
}
