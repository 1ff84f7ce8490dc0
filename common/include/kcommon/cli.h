// kcommon/cli.h: the command line every program of the project reads the same way.
//
// A program describes itself once, as a `kcli::Program`: its name, its usage line and
// description, the table of its options and the notes after them. `kcli::parse` reads the
// command line by that table and `--help` prints the help made from it, so an option is
// written in one place: its name, the name of its value, its help text and what it does.
//
// The conventions, the same in every program:
// - a long option takes its value as the next argument or after '=' ("--data DIR" or
//   "--data=DIR"); an option without a value refuses "=..."; the next argument is the value
//   whatever it looks like ("--centre -5,3");
// - an option may have a second name (`alias`): a short one ("-o") or another spelling
//   ("--center");
// - "-h", "--help" and "--version" are every program's: they print to standard output and end
//   the program with status 0;
// - "--" ends the options: what follows is an operand even when it starts with '-'; a lone
//   "-" is an operand too;
// - an unknown option, a missing value, a value given to an option without one, an operand of
//   a program that takes none, and a value its option refuses each give one line on standard
//   error, "NAME: what is wrong", and end the program with status 2 (kUsageStatus).
//
// A program with a command line:
//
//   Options o;
//   const kcli::Program program{
//       .name = "kview",
//       .usage = "Usage: kview --data DIR ...\n\nDraws one map view ...\n",
//       .options = {{.name = "--data", .value = "DIR", .help = "data set directory",
//                    .handle = kcli::store(&o.data)},
//                   {.name = "--world-file", .help = "also write the world file",
//                    .handle = kcli::set(&o.world_file)},
//                   {.name = "--workers", .value = "N", .help = "processes, 1 to 64",
//                    .handle = kcli::whole(1, 64, &o.workers)}},
//       .notes = "Exit status: ...\n"};
//   if (const auto end = kcli::parse(program, argc, argv)) return *end;
//   // checks between options: kcli::refuse(program, "give --bbox or --extent, not both")
#ifndef KCOMMON_CLI_H
#define KCOMMON_CLI_H

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "kcommon/numbers.h"

namespace kcli {

// The exit status of a usage error.
inline constexpr int kUsageStatus = 2;

// What an option does when it is given: it checks its value ("" for an option without one)
// and keeps it. Returns "" when the value is taken, or why it is refused, as the rest of the
// sentence that starts with the option's name: "wants 1 to 64, not 'x'".
using Handler = std::function<std::string(const std::string& value)>;

// One row of a program's option table.
struct Option {
    std::string name;   // "--data"
    std::string alias;  // another name of the same option ("-o", "--center"), or ""
    std::string value;  // the value's name in the help ("DIR"); empty: the option takes none
    std::string help;   // what the option does: one paragraph, wrapped by the help ('\n' breaks)
    Handler handle;     // called for each time the option is given, in command-line order
};

// A program's command line: everything its --help, --version and error lines say.
struct Program {
    std::string name;             // the prefix of every message: "kview"
    std::string usage;            // the usage line(s) and the description, before the options
    std::vector<Option> options;  // --help and --version are added by kcli
    std::string notes;            // after the options: exit status, examples; may be empty
    std::string version;          // the --version line; "" for "NAME <project version>"
};

// Reads argv[1..] by the program's table. Returns nothing when the program goes on, or the
// status to end it with: 0 after --help or --version (printed), kUsageStatus after a usage
// error (reported). Operands (arguments that are not options) go to `operands`; with no
// `operands` the program takes none and an operand is a usage error.
std::optional<int> parse(const Program& program, int argc, char** argv,
                         std::vector<std::string>* operands = nullptr);

// The help text: usage, the options in table order (then -h/--help and --version), a line
// on the '=' form, and the notes.
std::string help_text(const Program& program);

// The --version line, with its newline.
std::string version_line(const Program& program);

// Reports a usage error found after parse() ("NAME: MESSAGE (see NAME --help)") and returns
// kUsageStatus, for the checks between options that a table cannot say.
int refuse(const Program& program, const std::string& message);

// Handlers for the common kinds of values. Each keeps the value in `*target`.
Handler store(std::string* target);  // any text, the empty one included
Handler set(bool* target);           // an option without a value: sets true

// An option without a value that sets `*target` to `value` ("--no-join": false).
template <class T>
Handler assign(T* target, T value) {
    return [target, value](const std::string&) {
        *target = value;
        return std::string();
    };
}

// A whole number of [lo, hi] (plain decimal, kcommon/numbers.h): "wants LO to HI, not 'V'".
template <class T>
Handler whole(long long lo, long long hi, T* target) {
    return [lo, hi, target](const std::string& value) -> std::string {
        const auto n = kcommon::parse_int(value, lo, hi);
        if (!n)
            return "wants " + std::to_string(lo) + " to " + std::to_string(hi) + ", not '" + value +
                   "'";
        *target = static_cast<T>(*n);
        return {};
    };
}

// Copies argv[1..] into `out`, splitting "--name=value" into "--name" "value" when --name is
// one of `with_value`. Returns "", or the message for an option that takes no value but was
// given one. Arguments after "--" are kept as they are. For a parser of its own; a program with
// an option table has parse() do this.
std::string expand_args(int argc, char** argv, std::initializer_list<const char*> with_value,
                        std::vector<std::string>* out);

}  // namespace kcli

#endif  // KCOMMON_CLI_H
