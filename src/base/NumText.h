#pragma once
// Numbers to text and back as the sheet and the messages show them: up to 15
// significant digits for doubles (7 for floats), no digit grouping, the locale's
// decimal separator, and the format patterns the program uses.

#include <optional>
#include <string>

namespace lumora {

/// Decimal separator used by conversions (the user's locale; '.' unless set).
char DecimalSeparator();
void SetDecimalSeparator(char sep);
/// Takes the separator from the user's locale (LC_NUMERIC / LANG) and leaves the C
/// library's numeric locale at "C".
void UseSystemDecimalSeparator();

/// A double as the toolkit prints it: "0.5", "1E-05", "123456789012345", "1.5E+20".
std::string NumberToText(double x);
/// A float with up to 7 significant digits.
std::string SingleToText(float x);
/// Str(): '.' as separator and a leading blank for values >= 0.
std::string Str(double x);

/// Text to number with the locale's separator; blanks around the number, a sign and
/// an exponent are accepted. Empty or malformed text gives nothing.
std::optional<double> TextToNumber(const std::string& text);
/// TextToNumber that raises "Type mismatch" instead of returning nothing.
double TextToDouble(const std::string& text);
/// True when the text converts to a number.
bool IsNumeric(const std::string& text);
/// Val(): the number at the start of the text ('.' as separator), 0 when none.
double Val(const std::string& text);

/// Format(x, pattern) for numeric patterns such as "0.000000", "0.00", "0E+0",
/// "0.00E+00", "##########0.00". Exponents carry at least the pattern's digits.
std::string FormatNumber(double x, const std::string& pattern);

/// Removes leading and trailing blanks.
std::string Trim(const std::string& s);
/// ASCII lower case.
std::string LCase(const std::string& s);

} // namespace lumora
