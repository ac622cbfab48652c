// lumora-thermo: the engine on the command line.

#include "ThermoCommands.h"

#include <filesystem>
#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::error_code ec;
    std::string exe = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec) exe = argc > 0 ? argv[0] : "";
    return lumora::ThermoMain(args, exe, std::cout, std::cerr);
}
