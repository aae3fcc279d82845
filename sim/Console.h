// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The commands zub3sim reads on standard input, one per line.

#include "sim/VirtualReceiver.h"

#include <string>
#include <string_view>
#include <vector>

namespace zub3::sim {

class Console {
public:
    struct Result {
        std::string output;  // what to show, ending in a newline; empty for nothing
        bool quit = false;
    };

    Console(VirtualReceiver& receiver, bool demo) : receiver_(receiver), demo_(demo) {}

    // Runs one line. Setting the controller by hand stops the demo.
    Result Run(std::string_view line);

    bool Demo() const { return demo_; }

private:
    std::string pressOrRelease(bool press, const std::vector<std::string>& words);
    std::string word(const std::vector<std::string>& words);
    std::string channel(const std::vector<std::string>& words);
    std::string demo(const std::vector<std::string>& words);
    std::string fault(const std::vector<std::string>& words);
    std::string status() const;
    std::string buttons() const;

    VirtualReceiver& receiver_;
    bool demo_;
};

std::string ConsoleHelp();

}  // namespace zub3::sim
