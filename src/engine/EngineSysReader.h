#pragma once
// The system reader component: reads a system file (see SystemFile.h) against the database
// the file names (the bundled one when it names none) into the system record.

#include "engine/SysReader.h"

namespace lumora {

class EngineSysReader final : public SysReader {
public:
    int16_t Version() override;
    /// On failure rec is empty (nAq = 0) and LastMessage() names file, line and problem;
    /// on success LastMessage() is empty.
    void ReadSystem(const std::string& path, SysRec& rec) override;
    std::string LastMessage() override { return message_; }

private:
    std::string message_;
};

} // namespace lumora
