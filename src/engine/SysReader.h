#pragma once
// The system reader component: a system file into the system record.

#include "engine/SysRec.h"

#include <cstdint>
#include <string>

namespace lumora {

class SysReader {
public:
    virtual ~SysReader() = default;

    virtual int16_t Version() = 0;
    /// Fills rec from the system file; on failure rec.nAq is 0 and LastMessage() says why.
    virtual void ReadSystem(const std::string& path, SysRec& rec) = 0;
    virtual std::string LastMessage() = 0;
};

} // namespace lumora
