#include "HostChoice.h"

#include "workbook/EmbeddedHost.h"

namespace lumora {

decltype(StateHooks::attachHost) MakeHostAttach(const std::string& choice, std::string& error) {
    error.clear();
    if (choice == "libreoffice") {
        error = "The LibreOffice host is not part of this build";
        return {};
    }
    return AttachEmbeddedHost;
}

} // namespace lumora
