#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace mantleshade {

namespace {

int gPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    // Nothing more is safe here; a full pipe already holds a pending request.
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

const int kSignals[] = {SIGINT, SIGTERM};

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (gPipe[0] >= 0) {
        std::printf("Termination signals are already handled\n");
        return;
    }
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::printf("Cannot watch for SIGINT/SIGTERM: pipe2: %s\n", std::strerror(errno));
        gPipe[0] = gPipe[1] = -1;
        return;
    }
    for (int s : kSignals) {
        struct sigaction action {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(s, &action, nullptr);
    }
    notifier_ = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPending);
}

TerminationSignals::~TerminationSignals() {
    if (!notifier_) return;
    notifier_.reset();
    for (int s : kSignals) ::signal(s, SIG_DFL);
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

void TerminationSignals::readPending() {
    unsigned char bytes[16];
    ssize_t n;
    int last = 0;
    while ((n = ::read(gPipe[0], bytes, sizeof bytes)) > 0) last = bytes[n - 1];
    if (last == 0) return;
    for (int s : kSignals) ::signal(s, SIG_DFL);
    if (onSignal_) onSignal_(last);
}

}  // namespace mantleshade
