// Baud rates outside the fixed termios table, through termios2. Kept apart
// because the kernel's termios2 headers clash with <termios.h>.
#pragma once

#include <cstdint>

namespace velkor {

bool SetCustomBaud(int fd, uint32_t baudRate);
// The output speed in bits per second as the driver holds it; 0 if unknown.
uint32_t ReadCustomBaud(int fd);

}  // namespace velkor
