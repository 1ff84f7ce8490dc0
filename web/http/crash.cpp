// crash.cpp: the crash answer, written from the signal handler with one write().
#include "http/crash.h"

#include <signal.h>
#include <unistd.h>

#include <initializer_list>

namespace kserve {

namespace {

// The socket of the request being answered; -1: none.
volatile sig_atomic_t g_current_fd = -1;

void on_fault(int sig) {
    static const char kAnswer[] =
        "HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/plain\r\nContent-Length: 22\r\n"
        "Connection: close\r\n\r\nthe worker has failed\n";
    const int fd = g_current_fd;
    if (fd >= 0) {
        const ssize_t ignored = ::write(fd, kAnswer, sizeof kAnswer - 1);
        (void)ignored;
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

void answer_crashes() {
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::signal(sig, on_fault);
}

Answering::Answering(int fd) {
    g_current_fd = fd;
}

Answering::~Answering() {
    g_current_fd = -1;
}

}  // namespace kserve
