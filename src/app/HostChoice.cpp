#include "app/HostChoice.h"

#include "xlsx/EmbeddedHost.h"
#ifdef HAVE_LIBREOFFICE
#include "lohost/LibreOfficeHost.h"
#endif

namespace lumora {

HostAttach MakeHostAttach(const std::string& choice, std::string& error) {
    error.clear();
#ifdef HAVE_LIBREOFFICE
    // Without a choice, a Calc office answering on Lumora's pipe is the host.
    if (choice == "libreoffice" ||
        (choice.empty() && LibreOfficeAnswers(DefaultLibreOfficeOptions())))
        return AttachLibreOfficeHost;
#else
    if (choice == "libreoffice") {
        error = "The LibreOffice host is not part of this build";
        return {};
    }
#endif
    return AttachEmbeddedHost;
}

void CloseRunWorkbooks(SpreadsheetApp& app) {
#ifdef HAVE_LIBREOFFICE
    if (auto* office = dynamic_cast<LibreOfficeHost*>(&app)) office->CloseOpenedWorkbooks();
#else
    (void)app;
#endif
}

} // namespace lumora
