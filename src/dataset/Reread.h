#pragma once
// Commands that work on the data set read it again first when the sheet was edited
// since the last read; a failed re-read is reported the way "Open / Refresh" reports it.

#include "dataset/ReadDataSet.h"
#include "model/State.h"

namespace lumora {

enum class RereadResult {
    Unchanged, ///< the sheet was not edited: the state is current
    Reread,    ///< the sheet was edited and has been read again
    Failed     ///< the re-read failed; its message has been shown, ErrCode holds its code
};

/// Re-reads the data set when the watcher reports a change. On failure ErrMsg becomes
/// the reader's full message and is shown with the critical icon.
RereadResult RereadIfChanged(State& st, const ReadRequest& request);

} // namespace lumora
