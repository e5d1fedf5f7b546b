#pragma once
// vellumo-cli subcommands register themselves: one source file per command group.
//   static const CliRegistration reg{"md5", "md5 FILE   print the file's MD5 text", &RunMd5};

#include <string>
#include <vector>

using CliMain = int (*)(const std::vector<std::string>& args); // args after the command name

struct CliRegistration {
    CliRegistration(const char* name, const char* usage, CliMain main);
};
