#pragma once
// The OS version code every subsystem is handed: (major << 4) | minor for the
// supported versions, bit 31 for servers and domain controllers.
#include <cstdint>

const uint32_t OsVersionUnsupported = 0xFFFFFFFFu;
const uint32_t OsVersionServerBit = 0x80000000u;

// Vista and later: only the low byte decides, so the server bit never does.
inline bool IsPostVistaFamily(uint32_t osVersionCode)
{
    return (osVersionCode & 0xFF) >= 0x60;
}
