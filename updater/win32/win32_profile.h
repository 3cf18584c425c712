#pragma once
// Profile over the platform's GetPrivateProfileStringA / WritePrivateProfileStringA.

#include "updater/core/profile.h"

namespace qz {

class Win32Profile final : public Profile {
public:
    std::string readString(std::string_view section, std::string_view key, std::string_view defaultValue,
                           std::size_t bufferSize, const std::filesystem::path& file) override;
    bool writeString(std::string_view section, std::string_view key, std::string_view value,
                     const std::filesystem::path& file) override;
};

} // namespace qz
