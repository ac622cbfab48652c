#include "dataset/Reread.h"

#include "dataset/ReaderMessage.h"

namespace lumora {

RereadResult RereadIfChanged(State& st, const ReadRequest& request) {
    if (!st.xlsWatch || !st.xlsWatch->Changed) return RereadResult::Unchanged;
    ReadDataSet(st, request);
    if (st.ErrCode == 0) return RereadResult::Reread;
    st.ErrMsg = ReaderMessage(st.ErrCode, st.ErrMsg);
    st.Message(st.ErrMsg + "  ", Icon::Critical);
    return RereadResult::Failed;
}

} // namespace lumora
