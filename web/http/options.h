// http/options.h: kserve's command line.
#ifndef KSERVE_HTTP_OPTIONS_H
#define KSERVE_HTTP_OPTIONS_H

#include <string>

#include "http/limits.h"
#include "service/site.h"

namespace kserve {

// What the command line sets: the service's configuration, the server's limits, the address
// to listen on and the workers.
struct Options {
    Config config;
    Limits limits;
    std::string host = "127.0.0.1";
    std::string port = "8080";
    int workers = 0;
    bool viewer_given = false;
    bool public_url_given = false;
};

// Reads the command line into `o`: 0 to go on, 1 after a usage error (reported), 2 after
// --help or --version (printed).
int parse(int argc, char** argv, Options& o);

}  // namespace kserve

#endif
