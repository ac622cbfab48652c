#include "State.h"

namespace lumora {

Ui& DefaultUi() {
    static SilentUi silent;
    return silent;
}

State::State() : xlsWatch(std::make_unique<xls>()), ui(&DefaultUi()) {}

State::~State() {
    if (xlsWatch) xlsWatch->SetSheet(nullptr);
}

} // namespace lumora
