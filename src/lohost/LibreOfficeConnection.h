#pragma once
// The UNO connection to an office over a named pipe, and starting an office
// that accepts one.

#include "lohost/LibreOfficeUno.h"

#include <com/sun/star/uno/XComponentContext.hpp>

#include <string>

namespace lumora {
struct LibreOfficeOptions;
}

namespace lumora::lo {

/// The office's component context over the pipe; an empty reference with the reason
/// when nothing answers there.
Reference<css::uno::XComponentContext> ConnectOffice(const std::string& pipe, std::string& error);

/// Connects, starting the office first when nothing answers and start is true, and
/// waits up to the options' timeout for it.
Reference<css::uno::XComponentContext> ConnectOrStart(const LibreOfficeOptions& options, bool start,
                                                      std::string& error);

} // namespace lumora::lo
