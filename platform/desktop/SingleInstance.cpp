#include "platform/desktop/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace desktop {

namespace {

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::filesystem::path configHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && home[0] ? home : "/") / ".config";
}

// $XDG_RUNTIME_DIR when it names a folder, else the config folder (made, private, if missing).
std::filesystem::path stateFolder(const std::string& configFolderName) {
    std::error_code ec;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && std::filesystem::is_directory(runtime, ec)) return runtime;
    std::filesystem::path folder = configHome() / configFolderName;
    if (std::filesystem::create_directories(folder, ec))
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    return folder;
}

bool socketAddress(const std::filesystem::path& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

SingleInstance::SingleInstance(std::string identifier, std::string display,
                               std::string configFolderName, QObject* parent)
    : QObject(parent), configFolderName_(std::move(configFolderName)) {
    const std::string base = identifier + "-" + display;
    const std::filesystem::path folder = stateFolder(configFolderName_);
    lockPath_ = folder / (base + ".lock");
    socketPath_ = folder / (base + ".socket");
}

SingleInstance::~SingleInstance() {
    notifier_.reset();
    if (listenFd_ >= 0) {
        // Still under the lock, so the socket file is ours to remove.
        ::unlink(socketPath_.c_str());
        ::close(listenFd_);
    }
    if (lockFd_ >= 0) ::close(lockFd_);
}

SingleInstance::Outcome SingleInstance::start(std::string* problem) {
    lockFd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0) {
        if (problem)
            *problem = "cannot open " + lockPath_.string() + ": " + errnoText(errno) +
                       "; a second copy will not be noticed";
        return Outcome::primary;
    }
    int rc;
    do {
        rc = ::flock(lockFd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        bindSocket(problem);
        return Outcome::primary;
    }
    const int error = errno;
    ::close(lockFd_);
    lockFd_ = -1;
    if (error != EWOULDBLOCK) {
        if (problem)
            *problem = "cannot lock " + lockPath_.string() + ": " + errnoText(error) +
                       "; a second copy will not be noticed";
        return Outcome::primary;
    }
    if (connectToRunning()) return Outcome::handedOver;
    if (problem)
        *problem = "another copy holds " + lockPath_.string() + " but does not answer on " +
                   socketPath_.string();
    return Outcome::unreachable;
}

bool SingleInstance::bindSocket(std::string* problem) {
    sockaddr_un address;
    if (!socketAddress(socketPath_, address)) {
        if (problem) *problem = "cannot listen on " + socketPath_.string() + ": path too long";
        return false;
    }
    // Left over by a copy that was killed: the lock says nobody uses it.
    ::unlink(socketPath_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ >= 0 &&
        ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(listenFd_, 8) == 0)
        return true;
    if (problem) *problem = "cannot listen on " + socketPath_.string() + ": " + errnoText(errno);
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
    return false;
}

bool SingleInstance::connectToRunning() {
    sockaddr_un address;
    if (!socketAddress(socketPath_, address)) return false;
    // The holder binds right after locking; a copy started at the same moment may get here first.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return false;
        const bool connected =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (connected) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SingleInstance::listen() {
    if (listenFd_ < 0 || notifier_) return;
    notifier_ = std::make_unique<QSocketNotifier>(listenFd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { acceptPending(); });
    // Requests that queued up while the application was starting.
    acceptPending();
}

void SingleInstance::acceptPending() {
    bool requested = false;
    for (int i = 0; i < 64; ++i) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) break;
        ::close(fd);
        requested = true;
    }
    if (requested) emit activationRequested();
}

}  // namespace desktop
