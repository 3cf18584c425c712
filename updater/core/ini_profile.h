#pragma once
// Portable private-profile file access, producing the same files as the platform's profile
// writer for the updater's use (CR LF line ends, no blank line before an appended section).
// Unlike a writer that re-emits the whole file from its parsed keys, lines that are not
// touched by a write are kept byte for byte (record lines before the first section included).

#include "updater/core/profile.h"

namespace qz {

// The portable profile. It keeps nothing between calls: one instance serves the process.
Profile& portableProfile();

} // namespace qz
