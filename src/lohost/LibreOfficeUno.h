#pragma once
// UNO helpers of the LibreOffice host: text and value conversions, the mapping of
// office exceptions to run-time errors, and the marker that tells the program's
// own calls from edits made by others. Included only inside the host.

#include "base/RuntimeError.h"
#include "sheet/CellValue.h"

#include <com/sun/star/uno/Any.hxx>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/Sequence.hxx>
#include <rtl/ustring.hxx>

#include <string>
#include <utility>

namespace lumora::lo {

namespace css = ::com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OString;
using rtl::OUString;

inline OUString ToOU(const std::string& s) {
    return OUString(s.data(), static_cast<sal_Int32>(s.size()), RTL_TEXTENCODING_UTF8);
}

inline std::string FromOU(const OUString& s) {
    const OString u = OUStringToOString(s, RTL_TEXTENCODING_UTF8);
    return std::string(u.getStr(), static_cast<size_t>(u.getLength()));
}

/// A value of a cell as a data array gives it: void or "" for an empty cell.
CellValue FromAny(const Any& value);
/// The data-array element that writes value ("" empties the cell). Raises "Overflow"
/// for a NaN or infinite number.
Any ToAny(const CellValue& value);

/// The error the program reports for a failed office call.
RuntimeError OfficeError(const css::uno::Exception& e);

/// Runs f, turning office exceptions into RuntimeError.
template <class F> auto Guarded(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const css::uno::Exception& e) {
        throw OfficeError(e);
    }
}

/// Marks the calls one connection makes on this thread. The office reports the
/// changes a call causes before the call returns, on the calling thread, so a
/// change event that finds its own connection marked here is the program's own.
class OwnCall {
public:
    explicit OwnCall(const void* connection);
    ~OwnCall();
    OwnCall(const OwnCall&) = delete;
    OwnCall& operator=(const OwnCall&) = delete;
    static bool Active(const void* connection);

private:
    const void* previous_;
};

} // namespace lumora::lo
