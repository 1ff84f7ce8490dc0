// bench_worker.h: the service started in-process as one of kserve's workers starts it, for the
// benchmarks that answer requests without HTTP.
#ifndef KESTREL_BENCH_WEB_BENCH_WORKER_H
#define KESTREL_BENCH_WEB_BENCH_WORKER_H

#include <malloc.h>

#include <cstdio>
#include <string>

#include "service/service.h"

// Starts `service` on the data set `data` with the allocator settings of kserve's workers
// (server.cpp), so that the figures are theirs; prints the reason and returns false when it
// does not start.
inline bool start_like_a_worker(kserve::Service& service, const char* data, const char* program) {
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    kserve::Config config;
    config.data = data;
    std::string error;
    if (service.start(config, nullptr, error)) return true;
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    return false;
}

#endif  // KESTREL_BENCH_WEB_BENCH_WORKER_H
