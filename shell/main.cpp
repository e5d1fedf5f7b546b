#include "shell/CVellumoApp.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    CVellumoApp app;
    return app.Run(args);
}
