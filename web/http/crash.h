// http/crash.h: the crash answer. Should a worker die on a fault (a signal such as SIGSEGV)
// while it answers a request, the client gets a 500, which a balancer may retry elsewhere,
// instead of a connection closed without a word.
#ifndef KSERVE_HTTP_CRASH_H
#define KSERVE_HTTP_CRASH_H

namespace kserve {

// Makes the faults of this process (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) write the crash
// answer to the socket being answered, if any, before the process dies of them.
void answer_crashes();

// The socket of the request being answered from construction to destruction: the one the
// crash answer goes to.
class Answering {
  public:
    explicit Answering(int fd);
    ~Answering();
    Answering(const Answering&) = delete;
    Answering& operator=(const Answering&) = delete;
};

}  // namespace kserve

#endif
