#include "windows/Commands.h"

namespace lumora {

Commands& AppCommands() {
    static Commands commands;
    return commands;
}

} // namespace lumora
