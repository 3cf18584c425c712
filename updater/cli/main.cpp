// qz450-upload: the command-line firmware uploader.
#include "updater/cli/platform.h"
#include "updater/cli/upload_command.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto platform = qz::cli::makePlatform();
    return qz::cli::runUploadCommand(args, *platform);
}
