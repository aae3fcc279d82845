// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/StateFile.h"

#include "core/Protocol.h"
#include "sim/Faults.h"

#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace zub3::sim {
namespace {

[[noreturn]] void fail(const std::filesystem::path& file, const std::string& what)
{
    throw std::runtime_error("state file " + file.string() + ": " + what);
}

}  // namespace

std::optional<StoredSettings> LoadSettings(const std::filesystem::path& file)
{
    std::error_code ec;
    if (!std::filesystem::exists(file, ec) && !ec)
        return std::nullopt;
    if (!std::filesystem::is_regular_file(file, ec))
        fail(file, "is not a file");
    std::ifstream in(file);
    if (!in)
        fail(file, "cannot be read");

    std::optional<int> id;
    std::optional<int> bitRate;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto eq = line.find('=');
        const std::string key = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : line.substr(eq + 1);
        const std::string where = "line " + std::to_string(number) + ": ";
        if (key == "id") {
            id = ParseInt(value, 0, kMaxID);
            if (!id)
                fail(file, where + "the ID must be 0 to 31, not '" + value + "'");
        } else if (key == "speed") {
            const auto rate = ParseInt(value, 0, 100'000'000);
            if (!rate || !LineSpeedByBitRate(*rate))
                fail(file, where + "the line speed must be 115200, 625000 or 1250000, not '" +
                               value + "'");
            bitRate = rate;
        } else {
            fail(file, where + "expected id=... or speed=..., found '" + line + "'");
        }
    }
    if (in.bad())
        fail(file, "cannot be read");
    if (!id || !bitRate)
        fail(file, std::string("no ") + (!id ? "id" : "speed") + " line");
    return StoredSettings{*id, *bitRate};
}

void SaveSettings(const std::filesystem::path& file, const StoredSettings& settings)
{
    const std::filesystem::path tmp = file.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << "id=" << settings.id << "\nspeed=" << settings.bitRate << "\n";
        out.flush();
        if (!out)
            fail(file, "cannot be written");
    }
    std::error_code ec;
    std::filesystem::rename(tmp, file, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        fail(file, "cannot be written");
    }
}

}  // namespace zub3::sim
