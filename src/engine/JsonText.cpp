#include "engine/JsonText.h"

#include <cmath>
#include <cstdio>

namespace lumora {

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string JsonNumber(double x) {
    if (!std::isfinite(x)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", x);
    return buf;
}

} // namespace lumora
