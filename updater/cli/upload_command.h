#pragma once
// The whole qz450-upload command: options, firmware check, the ports, then one upload per port
// (side by side, one thread each) or a station loop per port, with progress, result lines, the
// summary, JSON lines and the exit code.

#include "updater/cli/platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qz::cli {

// The firmware's size when it is a readable regular file of 1 to kMaxImageSize bytes;
// otherwise empty, with why in `error` ("... is a folder", "... : Permission denied").
std::optional<std::uintmax_t> checkFirmware(const std::string& path, std::string& error);

// The first port that names the same port as an earlier one, as the pair of their positions.
std::optional<std::pair<std::size_t, std::size_t>> findRepeatedPort(const std::vector<PortName>& ports);

// Runs the command with the arguments after the program name; returns the exit code.
int runUploadCommand(const std::vector<std::string>& args, Platform& platform);

} // namespace qz::cli
