#include "engine/SystemFile.h"

#include "engine/DataPath.h"
#include "engine/Database.h"
#include "engine/Formula.h"

#include <toml++/toml.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace lumora {

namespace {

namespace fs = std::filesystem;

std::string Located(const std::string& path, int line, const std::string& problem) {
    std::ostringstream os;
    os << path;
    if (line > 0) os << ", line " << line;
    os << ": " << problem;
    return os.str();
}

int LineOf(const toml::node& n) {
    return static_cast<int>(n.source().begin.line);
}

bool KnownKind(const std::string& k) {
    return k == "aqueous" || k == "gas" || k == "mineral";
}

} // namespace

bool ReadSystemFile(const std::string& path, SystemFile& sys, std::string& message) {
    sys = SystemFile{};
    sys.path = path;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        message = Located(path, 0, "file not found");
        return false;
    }
    toml::table root;
    try {
        root = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        message =
            Located(path, static_cast<int>(e.source().begin.line), std::string(e.description()));
        return false;
    }
    for (const auto& [key, node] : root) {
        if (key == "database") {
            const auto v = node.value_exact<std::string>();
            if (!v) {
                message = Located(path, LineOf(node), "'database' must be a text");
                return false;
            }
            sys.database = *v;
        } else if (key != "phase") {
            message = Located(path, LineOf(node), "unknown key '" + std::string(key.str()) + "'");
            return false;
        }
    }
    const toml::array* phases = root["phase"].as_array();
    if (phases == nullptr || phases->empty()) {
        message = Located(path, 0, "no [[phase]] tables");
        return false;
    }
    for (const toml::node& pn : *phases) {
        const toml::table* t = pn.as_table();
        if (t == nullptr) {
            message = Located(path, LineOf(pn), "a phase must be a table");
            return false;
        }
        SystemPhase ph;
        ph.line = LineOf(pn);
        for (const auto& [key, node] : *t) {
            const std::string k(key.str());
            if (k == "name" || k == "kind") {
                const auto v = node.value_exact<std::string>();
                if (!v || v->empty()) {
                    message = Located(path, LineOf(node), "'" + k + "' must be a non-empty text");
                    return false;
                }
                (k == "name" ? ph.name : ph.kind) = *v;
            } else if (k == "species") {
                const toml::array* list = node.as_array();
                if (list == nullptr) {
                    message = Located(path, LineOf(node), "'species' must be a list of names");
                    return false;
                }
                for (const toml::node& sn : *list) {
                    const auto v = sn.value_exact<std::string>();
                    if (!v || v->empty()) {
                        message =
                            Located(path, LineOf(sn), "a species name must be a non-empty text");
                        return false;
                    }
                    ph.species.push_back(*v);
                    ph.lines.push_back(LineOf(sn));
                }
            } else {
                message = Located(path, LineOf(node), "unknown key '" + k + "' in a phase");
                return false;
            }
        }
        if (ph.name.empty()) {
            message = Located(path, ph.line, "phase without 'name'");
            return false;
        }
        if (ph.species.empty()) {
            message = Located(path, ph.line, "phase '" + ph.name + "' lists no species");
            return false;
        }
        if (!ph.kind.empty() && !KnownKind(ph.kind)) {
            message =
                Located(path, ph.line, "unknown kind '" + ph.kind + "' (aqueous, gas or mineral)");
            return false;
        }
        sys.phases.push_back(std::move(ph));
    }
    return true;
}

std::string SystemDatabasePath(const SystemFile& sys) {
    if (sys.database.empty()) return (fs::path(LUMORA_DATA_DIR) / "thermo.toml").string();
    return ResolveDataPath(sys.database, fs::path(sys.path).parent_path().string());
}

bool BuildSystem(const SystemFile& sys, const Database& db, SysRec& rec, std::vector<int>& dbIndex,
                 std::string& message) {
    rec = SysRec{};
    dbIndex.assign(1, 0);
    const std::string dbName = fs::path(db.Path()).filename().string();
    // Phase kinds, and the one aqueous phase.
    std::vector<std::string> kinds;
    int aqueous = -1;
    for (size_t p = 0; p < sys.phases.size(); ++p) {
        const SystemPhase& ph = sys.phases[p];
        std::string kind = ph.kind;
        if (kind.empty()) {
            const int i = db.Find(ph.species.front());
            kind = i > 0 ? db.Species(i).phase : "aqueous";
            if (!KnownKind(kind)) kind = "mineral";
        }
        if (kind == "aqueous") {
            if (aqueous >= 0) {
                message = Located(sys.path, ph.line, "a second aqueous phase");
                return false;
            }
            aqueous = static_cast<int>(p);
        }
        kinds.push_back(kind);
    }
    if (aqueous < 0) {
        message = Located(sys.path, 0, "no aqueous phase");
        return false;
    }
    // Species order: other phases in file order, the aqueous phase last.
    std::vector<size_t> order;
    for (size_t p = 0; p < sys.phases.size(); ++p)
        if (static_cast<int>(p) != aqueous) order.push_back(p);
    order.push_back(static_cast<size_t>(aqueous));
    rec.spName.assign(1, "");
    std::vector<std::vector<std::pair<int, double>>> formulas(1);
    for (size_t p : order) {
        const SystemPhase& ph = sys.phases[p];
        SysPhase out;
        out.name = ph.name;
        out.offset = static_cast<int16_t>(rec.spName.size() - 1);
        for (size_t s = 0; s < ph.species.size(); ++s) {
            const std::string& name = ph.species[s];
            const int line = s < ph.lines.size() ? ph.lines[s] : ph.line;
            const int i = db.Find(name);
            if (i <= 0) {
                message =
                    Located(sys.path, line,
                            "unknown species \"" + name + "\" (not in database " + dbName + ")");
                return false;
            }
            const SpeciesRecord& rs = db.Species(i);
            const std::string dbPhase = rs.phase == "aqueous" ? "aqueous" : rs.phase;
            if ((kinds[p] == "aqueous") != (dbPhase == "aqueous")) {
                message = Located(sys.path, line,
                                  "species \"" + name + "\" is a" +
                                      (dbPhase == "aqueous" ? "n aqueous" : " " + dbPhase) +
                                      " species, not of a " + kinds[p] + " phase");
                return false;
            }
            if (std::find(rec.spName.begin(), rec.spName.end(), name) != rec.spName.end()) {
                message = Located(sys.path, line, "species \"" + name + "\" listed twice");
                return false;
            }
            if (static_cast<int>(p) == aqueous && s == 0 && rs.model != SpeciesModel::Water) {
                message = Located(sys.path, line, "the aqueous phase must list water first");
                return false;
            }
            if (static_cast<int>(p) == aqueous && s > 0 && rs.model == SpeciesModel::Water) {
                message = Located(sys.path, line, "water must be the first aqueous species");
                return false;
            }
            std::vector<std::pair<int, double>> elements;
            std::string problem;
            if (!ParseFormula(db, rs.formula, elements, problem)) {
                message =
                    Located(sys.path, line,
                            "species \"" + name + "\": formula '" + rs.formula + "': " + problem);
                return false;
            }
            if (rec.spName.size() > 32767) {
                message = Located(sys.path, line, "too many species");
                return false;
            }
            rec.spName.push_back(name);
            dbIndex.push_back(i);
            formulas.push_back(std::move(elements));
        }
        out.nSpecies = static_cast<int16_t>(ph.species.size());
        if (kinds[p] == "mineral" && ph.species.size() == 1) ++rec.nPmc;
        rec.phases.push_back(std::move(out));
    }
    const int count = static_cast<int>(rec.spName.size()) - 1;
    const int firstAq = rec.phases.back().offset + 1;
    rec.nAq = static_cast<int16_t>(count - firstAq + 1);
    rec.lastAq = static_cast<int16_t>(count);
    // Elements: aqueous species first (water leads with H and O), then the other phases.
    rec.elemCode.assign(1, 0);
    auto addElements = [&](int from, int to) {
        for (int i = from; i <= to; ++i)
            for (const auto& [z, n] : formulas[i])
                if (n != 0 && std::find(rec.elemCode.begin() + 1, rec.elemCode.end(), z) ==
                                  rec.elemCode.end())
                    rec.elemCode.push_back(static_cast<int16_t>(z));
    };
    addElements(firstAq, count);
    addElements(1, firstAq - 1);
    rec.nElem = static_cast<int16_t>(rec.elemCode.size() - 1);
    return true;
}

} // namespace lumora
