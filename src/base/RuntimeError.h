#pragma once
// Run-time errors: division by zero, overflow, bad conversions, subscripts out of
// range. IEEE arithmetic does not trap, so the helpers below raise them explicitly;
// the handlers of the commands turn the description into the user's message.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace lumora {

inline constexpr const char* kDivisionByZero = "Division by zero";
inline constexpr const char* kOverflow = "Overflow";
inline constexpr const char* kSubscriptOutOfRange = "Subscript out of range";
inline constexpr const char* kTypeMismatch = "Type mismatch";
inline constexpr const char* kInvalidCall = "Invalid procedure call or argument";

class RuntimeError : public std::runtime_error {
public:
    explicit RuntimeError(const std::string& description) : std::runtime_error(description) {}
    /// The toolkit's description of the error ("Division by zero", ...)
    std::string Description() const { return what(); }
};

/// a / b; raises "Division by zero" for b == 0 and "Overflow" for a non-finite result.
double CheckedDiv(double a, double b);
/// sqrt(x); raises "Invalid procedure call or argument" for x < 0.
double CheckedSqrt(double x);
/// exp(x); raises "Overflow" when the result is not finite.
double CheckedExp(double x);
/// log(x); raises "Invalid procedure call or argument" for x <= 0.
double CheckedLog(double x);
/// Raises "Overflow" when x is NaN or infinite; returns x.
double CheckFinite(double x);
/// Round half to even and narrow to 16 bits; raises "Overflow" outside -32768..32767.
int16_t CInt16(double x);
/// Narrow to float; raises "Overflow" when the magnitude does not fit.
float CSng(double x);

} // namespace lumora
