#include "dataset/ReaderMessage.h"

namespace lumora {

std::string ReaderMessage(int16_t code, const std::string& readerMsg) {
    switch (code) {
    case -7:
        return "Could not set Gibbs options";
    case -6:
        return "Error opening System file";
    case -5:
        return "Error opening database";
    case -4:
        // A damaged file is "not found" too; the host's reason tells the user which.
        return readerMsg.empty() ? "File not found" : "File not found (" + readerMsg + ")";
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
