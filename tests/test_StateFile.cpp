// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/StateFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

using namespace zub3::sim;
namespace fs = std::filesystem;

namespace {

class StateFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("zub3-state-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string errorFor(const std::string& content)
    {
        std::ofstream(dir_ / "s") << content;
        try {
            LoadSettings(dir_ / "s");
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(accepted)";
    }

    fs::path dir_;
};

}  // namespace

TEST_F(StateFileTest, KeepsIDAndSpeed)
{
    EXPECT_FALSE(LoadSettings(dir_ / "s"));
    SaveSettings(dir_ / "s", {17, 625000});
    EXPECT_EQ(LoadSettings(dir_ / "s"), (StoredSettings{17, 625000}));
    SaveSettings(dir_ / "s", {0, 1250000});
    EXPECT_EQ(LoadSettings(dir_ / "s"), (StoredSettings{0, 1250000}));
    EXPECT_FALSE(fs::exists(dir_ / "s.tmp"));

    std::ofstream(dir_ / "s") << "# written by hand\n\nspeed=115200\nid=31\n";
    EXPECT_EQ(LoadSettings(dir_ / "s"), (StoredSettings{31, 115200}));
}

TEST_F(StateFileTest, BadFilesSayWhatIsWrong)
{
    const std::string name = "state file " + (dir_ / "s").string() + ": ";
    EXPECT_EQ(errorFor("id=32\nspeed=115200\n"),
              name + "line 1: the ID must be 0 to 31, not '32'");
    EXPECT_EQ(errorFor("id=3\nspeed=9600\n"),
              name + "line 2: the line speed must be 115200, 625000 or 1250000, not '9600'");
    EXPECT_EQ(errorFor("id=3\nbaud=115200\n"),
              name + "line 2: expected id=... or speed=..., found 'baud=115200'");
    EXPECT_EQ(errorFor("id=3\n"), name + "no speed line");
    EXPECT_EQ(errorFor(""), name + "no id line");

    fs::remove(dir_ / "s");
    fs::create_directory(dir_ / "s");
    EXPECT_EQ(errorFor(""), name + "is not a file");
    EXPECT_THROW(SaveSettings(dir_ / "missing" / "s", {1, 115200}), std::runtime_error);
}
