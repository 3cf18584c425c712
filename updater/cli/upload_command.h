#pragma once
// The whole qz450-upload command: options, firmware check, the upload sequence over the serial
// transfer control with the console host, progress, the result line, JSON and the exit code.

#include "platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qz::cli {

// The firmware's size when it is a readable regular file of 1 to kMaxImageSize bytes;
// otherwise empty, with why in `error` ("... is a folder", "... : Permission denied").
std::optional<std::uintmax_t> checkFirmware(const std::string& path, std::string& error);

// Runs the command with the arguments after the program name; returns the exit code.
int runUploadCommand(const std::vector<std::string>& args, Platform& platform);

} // namespace qz::cli
