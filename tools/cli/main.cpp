#include "tools/cli/CliCommand.h"

#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct Command {
    std::string usage;
    CliMain main;
};

std::map<std::string, Command>& Commands() {
    static std::map<std::string, Command> commands;
    return commands;
}

int PrintHelp(FILE* out) {
    std::fprintf(out, "vellumo-cli: the command-line companion of Vellumo\n\nusage:\n");
    for (const auto& [name, command] : Commands()) {
        std::fprintf(out, "  vellumo-cli %s\n", command.usage.c_str());
    }
    return out == stdout ? 0 : 2;
}

} // namespace

CliRegistration::CliRegistration(const char* name, const char* usage, CliMain main) {
    Commands()[name] = Command{usage, main};
}

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        return PrintHelp(stderr);
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        return PrintHelp(stdout);
    }
    auto it = Commands().find(name);
    if (it == Commands().end()) {
        std::fprintf(stderr, "vellumo-cli: unknown command '%s'\n", name.c_str());
        return PrintHelp(stderr);
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    return it->second.main(args);
}
