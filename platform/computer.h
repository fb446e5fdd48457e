// The computer's name: the host name, or $DRIVETREK_COMPUTERNAME when set (several
// "computers" on one machine, tests).
#pragma once

#include <cstddef>
#include <string>

namespace dt::platform {

// The whole computer name; "" when the system cannot tell it.
std::string ComputerName();

// Copies the computer name into buf, which holds `size` bytes including the NUL: at most
// size - 1 bytes are copied (never splitting a UTF-8 character) and buf is always
// NUL-terminated; nothing is read or written past buf[size - 1]. Returns the number of
// bytes copied, or -1 (buf then holds "") when the name cannot be had or size is 0.
long GetComputerName(char* buf, std::size_t size);

}  // namespace dt::platform
