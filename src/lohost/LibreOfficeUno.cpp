#include "lohost/LibreOfficeUno.h"

#include <cmath>

namespace lumora::lo {

namespace {

thread_local const void* tlConnection = nullptr;

} // namespace

CellValue FromAny(const Any& value) {
    double d = 0.0;
    if (value >>= d) return d;
    OUString s;
    if (value >>= s) {
        if (s.isEmpty()) return {};
        return FromOU(s);
    }
    bool b = false;
    if (value >>= b) return b;
    return {};
}

Any ToAny(const CellValue& value) {
    if (const auto* d = std::get_if<double>(&value)) {
        if (!std::isfinite(*d)) throw RuntimeError(kOverflow);
        return Any(*d);
    }
    if (const auto* s = std::get_if<std::string>(&value)) return Any(ToOU(*s));
    // Calc keeps a boolean as a number.
    if (const auto* b = std::get_if<bool>(&value)) return Any(*b ? 1.0 : 0.0);
    return Any(OUString());
}

RuntimeError OfficeError(const css::uno::Exception& e) {
    std::string text = "LibreOffice: " + FromOU(e.Message);
    if (e.Message.isEmpty()) text += "the office call failed";
    return RuntimeError(text);
}

OwnCall::OwnCall(const void* connection) : previous_(tlConnection) {
    tlConnection = connection;
}

OwnCall::~OwnCall() {
    tlConnection = previous_;
}

bool OwnCall::Active(const void* connection) {
    return tlConnection == connection;
}

} // namespace lumora::lo
