// http/options.h: kserve's command line and the environment variables of its options.
#ifndef KSERVE_HTTP_OPTIONS_H
#define KSERVE_HTTP_OPTIONS_H

#include <cstdlib>
#include <functional>
#include <optional>
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

// The value of an environment variable, nothing when it is not set.
using Environment = std::function<std::optional<std::string>(const std::string& name)>;
inline std::optional<std::string> process_environment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// The variable that sets an option: "--public-url" is KSERVE_PUBLIC_URL.
std::string environment_name(const std::string& option);

// Reads the command line into `o`, and the KSERVE_* variables of `environment` for the options
// the command line does not give. Nothing to go on, or the status to end with: 0 after --help
// or --version (printed), 2 after a usage error (reported).
std::optional<int> parse(int argc, char** argv, Options& o,
                         const Environment& environment = process_environment);

}  // namespace kserve

#endif
