// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The receiver's ID and line speed kept in a small text file across runs, as the device
// keeps them across power cycles:
//   id=3
//   speed=625000

#include <filesystem>
#include <optional>

namespace zub3::sim {

struct StoredSettings {
    int id = 0;
    int bitRate = 115200;
    bool operator==(const StoredSettings&) const = default;
};

// nullopt when the file does not exist. Throws std::runtime_error naming the file and the
// fault when it cannot be read or does not hold a valid ID and line speed.
std::optional<StoredSettings> LoadSettings(const std::filesystem::path& file);

// Replaces the file as a whole, so a crash never leaves half of it. Throws
// std::runtime_error when it cannot be written.
void SaveSettings(const std::filesystem::path& file, const StoredSettings& settings);

}  // namespace zub3::sim
