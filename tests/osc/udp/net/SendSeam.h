#pragma once

#include <thread>

// The net test executable is linked with -Wl,--wrap=sendto,--wrap=send: a descriptor can be
// armed so that its next sends fail with a chosen errno (loopback almost never gives EAGAIN).

namespace udptest {

// The next `count` sends on `fd` fail with `err`.
void armSendFailure(int fd, int err, int count = 1);
void disarmSendFailures();
// The thread that last called send or sendto on `fd` (a default id when none did).
std::thread::id lastSender(int fd);

}  // namespace udptest
