#include "base/Ui.h"

namespace lumora {

Ui& DefaultUi() {
    static SilentUi silent;
    return silent;
}

} // namespace lumora
