#pragma once
// Whether the restoration would change the service configuration: the scan's
// question, asked before a run schedules the restoration and before an
// unattended run decides that a machine needs nothing.
#include "registry/KnownGoodRecord.h"

#include <cstdint>

// True when a record of the family's table has no key, or a value that is
// missing or (unless the record keeps existing values) differs. Reads only.
bool ServicesDifferFromTable(uint32_t versionCode, const KnownGoodTable& table);

// The same against the table built into the program (needs vorn_registry_data).
bool ServicesDifferFromKnownGood(uint32_t versionCode);
