// lumora-thermo: the engine on the command line.

#include "engine/ThermoCommands.h"

#include <iostream>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return lumora::ThermoMain(args, std::cout, std::cerr);
}
