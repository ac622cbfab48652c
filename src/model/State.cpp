#include "model/State.h"

namespace lumora {

State::State() : xlsWatch(std::make_unique<SheetWatcher>()), ui(&DefaultUi()) {}

State::~State() {
    if (xlsWatch) xlsWatch->SetSheet(nullptr);
}

} // namespace lumora
