#include "HostChoice.h"

#if __has_include("workbook/EmbeddedHost.h")
#include "workbook/EmbeddedHost.h"
#define LUMORA_HAVE_EMBEDDED_HOST 1
#endif

namespace lumora {

decltype(StateHooks::attachHost) MakeHostAttach(const std::string& choice, std::string& error) {
    error.clear();
    if (choice == "libreoffice") {
        error = "The LibreOffice host is not part of this build";
        return {};
    }
#ifdef LUMORA_HAVE_EMBEDDED_HOST
    return [](bool) -> std::shared_ptr<SpreadsheetApp> { return EmbeddedHost::Instance(); };
#else
    error = "No spreadsheet host in this build";
    return {};
#endif
}

} // namespace lumora
