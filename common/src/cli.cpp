// cli.cpp: the command-line parser and the help text of cli.h.
#include "kcommon/cli.h"

#include <algorithm>
#include <cstdio>

#ifndef KESTREL_VERSION
#define KESTREL_VERSION "unknown"
#endif

namespace kcli {
namespace {

constexpr std::size_t kWidth = 80;       // help lines are shorter than this
constexpr std::size_t kMaxColumn = 30;   // where the help of the options starts, at most
constexpr std::size_t kShortIndent = 4;  // "-o, " before a long name

bool is_short(const std::string& name) {
    return name.size() == 2 && name[0] == '-' && name[1] != '-';
}

// The option named `name` (or its alias), or nullptr.
const Option* find(const Program& program, const std::string& name) {
    for (const Option& o : program.options)
        if (o.name == name || (!o.alias.empty() && o.alias == name)) return &o;
    return nullptr;
}

// Prints "NAME: MESSAGE (see NAME --help)" on standard error.
int usage_error(const Program& program, const std::string& message) {
    std::fprintf(stderr, "%s: %s (see %s --help)\n", program.name.c_str(), message.c_str(),
                 program.name.c_str());
    return kUsageStatus;
}

// The option column of a help row: "  -o, --output FOLDER", "      --replace" (long names
// line up after the short ones, and -h is every program's).
std::string label(const std::string& name, const std::string& alias, const std::string& value) {
    std::string out = "  ";
    out += is_short(alias) ? alias + ", " : std::string(kShortIndent, ' ');
    out += name;
    if (!alias.empty() && !is_short(alias)) out += ", " + alias;
    if (!value.empty()) out += " " + value;
    return out;
}

// `text` wrapped into lines of at most kWidth - 1 characters, each but the first indented to
// `column`; a '\n' in the text breaks the line there.
std::string wrap(const std::string& text, std::size_t column) {
    std::string out;
    std::size_t line = column;  // the first line starts at the column too
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\n') {
            out += "\n" + std::string(column, ' ');
            line = column;
            ++i;
            continue;
        }
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        const std::size_t end = std::min(text.find_first_of(" \n", i), text.size());
        const std::string word = text.substr(i, end - i);
        if (line > column && line + 1 + word.size() >= kWidth) {
            out += "\n" + std::string(column, ' ');
            line = column;
        } else if (line > column) {
            out += ' ';
            ++line;
        }
        out += word;
        line += word.size();
        i = end;
    }
    return out + "\n";
}

struct Row {
    std::string label;
    std::string help;
};

// The rows of the options' list: the table's, then -h/--help and --version.
std::vector<Row> rows(const Program& program) {
    std::vector<Row> out;
    for (const Option& o : program.options)
        out.push_back({label(o.name, o.alias, o.value), o.help});
    out.push_back({label("--help", "-h", ""), "show this text and exit"});
    out.push_back({label("--version", "", ""), "show the version and exit"});
    return out;
}

// Takes one option at args[*i] ("--name" or "--name=value"), with its value. Returns "" or the
// usage error to report.
std::string take(const Program& program, const std::vector<std::string>& args, std::size_t* i) {
    const std::string& arg = args[*i];
    const std::size_t eq = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, eq);
    const Option* option = find(program, name);
    if (option == nullptr) return "unknown option '" + name + "'";
    std::string value;
    if (option->value.empty()) {
        if (eq != std::string::npos) return "option " + name + " takes no value";
    } else if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
    } else if (*i + 1 < args.size()) {
        value = args[++*i];
    } else {
        return name + " needs a value";
    }
    const std::string why = option->handle ? option->handle(value) : std::string();
    return why.empty() ? why : name + " " + why;
}

}  // namespace

std::optional<int> parse(const Program& program, int argc, char** argv,
                         std::vector<std::string>* operands) {
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + std::max(argc, 0));
    bool options_end = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool option = !options_end && arg.size() > 1 && arg[0] == '-';
        if (option && arg == "--") {
            options_end = true;
        } else if (option && (arg == "--help" || arg == "-h")) {
            std::fputs(help_text(program).c_str(), stdout);
            return 0;
        } else if (option && arg == "--version") {
            std::fputs(version_line(program).c_str(), stdout);
            return 0;
        } else if (option) {
            const std::string why = take(program, args, &i);
            if (!why.empty()) return usage_error(program, why);
        } else if (operands == nullptr) {
            return usage_error(program, "unexpected argument '" + arg + "'");
        } else {
            operands->push_back(arg);
        }
    }
    return std::nullopt;
}

std::string help_text(const Program& program) {
    const std::vector<Row> list = rows(program);
    std::size_t column = 0;
    for (const Row& r : list)
        if (r.label.size() + 2 <= kMaxColumn) column = std::max(column, r.label.size() + 2);
    std::string out = program.usage + "\nOptions:\n";
    for (const Row& r : list) {
        out += r.label;
        if (r.label.size() + 2 > column)
            out += "\n" + std::string(column, ' ');
        else
            out += std::string(column - r.label.size(), ' ');
        out += wrap(r.help, column);
    }
    for (const Option& o : program.options) {
        if (o.value.empty() || o.name.rfind("--", 0) != 0) continue;
        out += "\nOptions take their value as the next argument or after '=' (" + o.name + "=" +
               o.value + ").\n";
        break;
    }
    if (!program.notes.empty()) out += "\n" + program.notes;
    return out;
}

std::string version_line(const Program& program) {
    if (!program.version.empty()) return program.version + "\n";
    return program.name + " " KESTREL_VERSION "\n";
}

int refuse(const Program& program, const std::string& message) {
    return usage_error(program, message);
}

Handler store(std::string* target) {
    return [target](const std::string& value) {
        *target = value;
        return std::string();
    };
}

Handler set(bool* target) {
    return assign(target, true);
}

std::string expand_args(int argc, char** argv, std::initializer_list<const char*> with_value,
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
