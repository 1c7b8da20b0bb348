#include "platform/custom_baud.hpp"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace velkor {

bool SetCustomBaud(int fd, uint32_t baudRate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = baudRate;
  tio.c_ospeed = baudRate;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

uint32_t ReadCustomBaud(int fd) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
  return tio.c_ospeed;
}

}  // namespace velkor
