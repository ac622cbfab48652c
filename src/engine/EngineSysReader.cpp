#include "engine/EngineSysReader.h"

#include "engine/Database.h"
#include "engine/EngineFactory.h"
#include "engine/SystemFile.h"

namespace lumora {

int16_t EngineSysReader::Version() {
    return kEngineVersion;
}

void EngineSysReader::ReadSystem(const std::string& path, SysRec& rec) {
    rec = SysRec{};
    message_.clear();
    SystemFile sys;
    if (!ReadSystemFile(ResolveDataPath(path), sys, message_)) return;
    Database db;
    if (!db.Load(SystemDatabasePath(sys), message_)) return;
    std::vector<int> dbIndex;
    if (!BuildSystem(sys, db, rec, dbIndex, message_)) rec = SysRec{};
}

} // namespace lumora
