#include "dataset/Reread.h"

#include "dataset/ReaderMessage.h"

namespace lumora {

RereadResult RereadIfChanged(State& st) {
    if (!st.xlsWatch || !st.xlsWatch->Changed) return RereadResult::Unchanged;
    if (st.hooks.readDataSet)
        st.hooks.readDataSet(st);
    else if (st.ErrCode == 0)
        st.ErrCode = -1; // nothing can read the sheet: the state stays stale
    if (st.ErrCode == 0) return RereadResult::Reread;
    st.ErrMsg = ReaderMessage(st.ErrCode, st.ErrMsg);
    st.Message(st.ErrMsg + "  ", Icon::Critical);
    return RereadResult::Failed;
}

} // namespace lumora
