#include "dataset/ReaderMessage.h"

namespace lumora {

std::string ReaderMessage(int16_t code, const std::string& readerMsg) {
    // The engine's or the host's reason follows the message.
    const auto with = [&](const std::string& text) {
        return readerMsg.empty() ? text : text + " (" + readerMsg + ")";
    };
    switch (code) {
    case -7:
        return with("Could not set Gibbs options");
    case -6:
        return with("Error opening System file");
    case -5:
        return with("Error opening database");
    case -4:
        return with("File not found");
    case -3:
        return "Could not run Excel";
    case -2:
        return "Incorrect file type";
    case -1:
        return "File not open";
    default:
        break;
    }
    if (code >= 1) return "Source data: " + readerMsg;
    return readerMsg;
}

} // namespace lumora
