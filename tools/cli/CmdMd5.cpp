// vellumo-cli md5 FILE: prints the file's MD5 text and a line feed.

#include "media/CHMd5.h"
#include "tools/cli/CliCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int RunMd5(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: vellumo-cli md5 FILE\n");
        return 2;
    }
    std::string text;
    errno = 0;
    if (!Md5FileText(args[0], text)) {
        const int err = errno;
        std::fprintf(stderr, "vellumo-cli md5: cannot read '%s'%s%s\n", args[0].c_str(),
                     err != 0 ? ": " : "", err != 0 ? std::strerror(err) : "");
        return 1;
    }
    std::printf("%s\n", text.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const CliRegistration kRegistration{
    "md5", "md5 FILE             print the file's MD5 text (32 upper-case hex digits)", &RunMd5};

} // namespace
