#pragma once
// The message the "Open / Refresh" command shows for the reader's result code.

#include <cstdint>
#include <string>

namespace lumora {

/// ErrMsg after a read: the file-level texts for -7..-1 (for -4 with the host's reason
/// in parentheses when the reader left one), "Source data: " + the reader's message for
/// positive codes, unchanged otherwise.
std::string ReaderMessage(int16_t code, const std::string& readerMsg);

} // namespace lumora
