#ifndef DEVICETABLES_H
#define DEVICETABLES_H

#include "bittable.h"
#include "inputregisters.h"
#include "registerbank.h"

// The four data tables of the simulated device, shared by every connection.
struct DeviceTables
{
    static constexpr int bitTableSize = 10000;

    RegisterBank holding;
    InputRegisters input;
    // Coils 0-15: 1010 0101 0011 1100 (coil 0 first), read as the bytes A5 3C.
    BitTable coils{bitTableSize, QByteArray("\xA5\x3C", 2)};
    // Discrete inputs 0-15: 1100 1010 1111 0000, read as the bytes 53 0F.
    BitTable discrete{bitTableSize, QByteArray("\x53\x0F", 2)};
};

#endif // DEVICETABLES_H
