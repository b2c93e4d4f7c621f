#include "SendSeam.h"

#include <sys/socket.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace {

std::mutex seamMutex;
std::map<int, std::pair<int, int>> armed;  // fd -> (errno, sends left to fail)
std::map<int, std::thread::id> senders;

// The errno to fail with, or 0.
int takeFailure(int fd) {
    std::lock_guard lock(seamMutex);
    senders[fd] = std::this_thread::get_id();
    auto it = armed.find(fd);
    if (it == armed.end()) return 0;
    const int err = it->second.first;
    if (--it->second.second <= 0) armed.erase(it);
    return err;
}

}  // namespace

namespace udptest {

void armSendFailure(int fd, int err, int count) {
    std::lock_guard lock(seamMutex);
    armed[fd] = {err, count};
}

std::thread::id lastSender(int fd) {
    std::lock_guard lock(seamMutex);
    auto it = senders.find(fd);
    return it == senders.end() ? std::thread::id() : it->second;
}

void disarmSendFailures() {
    std::lock_guard lock(seamMutex);
    armed.clear();
}

}  // namespace udptest

extern "C" {

ssize_t __real_sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to,
                      socklen_t toLength);
ssize_t __real_send(int fd, const void* buffer, size_t length, int flags);

ssize_t __wrap_sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to,
                      socklen_t toLength) {
    if (const int err = takeFailure(fd)) {
        errno = err;
        return -1;
    }
    return __real_sendto(fd, buffer, length, flags, to, toLength);
}

ssize_t __wrap_send(int fd, const void* buffer, size_t length, int flags) {
    if (const int err = takeFailure(fd)) {
        errno = err;
        return -1;
    }
    return __real_send(fd, buffer, length, flags);
}

}  // extern "C"
