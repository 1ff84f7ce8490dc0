// kcommon/cli.h: the command-line conventions every program of the project shares.
//
// Long options take their value as the next argument or after '=' ("--data DIR" or
// "--data=DIR"); an option without a value refuses "=...". Every tool answers --help and
// --version (kVersionText). expand_args rewrites the '=' form into the two-argument form, so
// that each tool's parser sees one form only.
#ifndef KCOMMON_CLI_H
#define KCOMMON_CLI_H

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#ifndef KESTREL_VERSION
#define KESTREL_VERSION "unknown"
#endif

namespace kcli {

// The version line of a tool: "NAME VERSION".
inline std::string version_text(const char* name) {
    return std::string(name) + " " KESTREL_VERSION "\n";
}

// Copies argv[1..] into `out`, splitting "--name=value" into "--name" "value" when --name is
// one of `with_value`. Returns an empty string, or the message for an option that takes no
// value but was given one. Arguments after "--" are kept as they are.
inline std::string expand_args(int argc, char** argv, std::initializer_list<const char*> with_value,
                               std::vector<std::string>* out) {
    out->clear();
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::size_t eq = arg.find('=');
        if (options_end || arg.rfind("--", 0) != 0 || eq == std::string::npos) {
            if (arg == "--") options_end = true;
            out->push_back(arg);
            continue;
        }
        const std::string name = arg.substr(0, eq);
        bool takes_value = false;
        for (const char* v : with_value) takes_value = takes_value || name == v;
        if (!takes_value) return "option " + name + " takes no value";
        out->push_back(name);
        out->push_back(arg.substr(eq + 1));
    }
    return {};
}

}  // namespace kcli

#endif  // KCOMMON_CLI_H
