#include "engine/SystemFile.h"

#include "engine/DataPath.h"
#include "engine/Database.h"
#include "engine/Formula.h"
#include "engine/TomlNode.h"

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

bool KnownKind(const std::string& k) {
    return k == "aqueous" || k == "gas" || k == "mineral";
}

/// A list of names ('components' or a phase's 'species') and the line of each; `noun`
/// names one entry in the messages ("a species name must be a non-empty text").
bool ReadNameList(const toml::node& node, const std::string& path, const std::string& key,
                  const std::string& noun, std::vector<std::string>& names, std::vector<int>& lines,
                  std::string& message) {
    const toml::array* list = node.as_array();
    if (list == nullptr) {
        message = Located(path, TomlLine(node), "'" + key + "' must be a list of names");
        return false;
    }
    for (const toml::node& n : *list) {
        const auto v = n.value_exact<std::string>();
        if (!v || v->empty()) {
            message = Located(path, TomlLine(n), "a " + noun + " name must be a non-empty text");
            return false;
        }
        names.push_back(*v);
        lines.push_back(TomlLine(n));
    }
    return true;
}

/// The file as a TOML table; false with the message when it is missing or no TOML.
bool ParseSystemToml(const std::string& path, toml::table& root, std::string& message) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        const std::string why = NotARegularFile(path);
        message = Located(path, 0, why.empty() ? "file not found" : why);
        return false;
    }
    try {
        root = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        message =
            Located(path, static_cast<int>(e.source().begin.line), std::string(e.description()));
        return false;
    }
    return true;
}

/// The keys beside the phases: 'database' and 'components'; any other is refused.
bool ReadTopKeys(const toml::table& root, SystemFile& sys, std::string& message) {
    for (const auto& [key, node] : root) {
        if (key == "database") {
            const auto v = node.value_exact<std::string>();
            if (!v) {
                message = Located(sys.path, TomlLine(node), "'database' must be a text");
                return false;
            }
            sys.database = *v;
        } else if (key == "components") {
            if (!ReadNameList(node, sys.path, "components", "component", sys.components,
                              sys.componentLines, message))
                return false;
        } else if (key != "phase") {
            message =
                Located(sys.path, TomlLine(node), "unknown key '" + std::string(key.str()) + "'");
            return false;
        }
    }
    return true;
}

/// The keys of one [[phase]] table: 'name', 'kind' and 'species'.
bool ReadPhaseKeys(const toml::table& t, const std::string& path, SystemPhase& ph,
                   std::string& message) {
    for (const auto& [key, node] : t) {
        const std::string k(key.str());
        if (k == "name" || k == "kind") {
            const auto v = node.value_exact<std::string>();
            if (!v || v->empty()) {
                message = Located(path, TomlLine(node), "'" + k + "' must be a non-empty text");
                return false;
            }
            (k == "name" ? ph.name : ph.kind) = *v;
        } else if (k == "species") {
            if (!ReadNameList(node, path, "species", "species", ph.species, ph.lines, message))
                return false;
        } else {
            message = Located(path, TomlLine(node), "unknown key '" + k + "' in a phase");
            return false;
        }
    }
    return true;
}

/// A phase needs a name and species; its kind, when given, must be one we know.
bool CheckPhase(const SystemPhase& ph, const std::string& path, std::string& message) {
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
    return true;
}

bool ReadPhase(const toml::node& pn, const std::string& path, SystemPhase& ph,
               std::string& message) {
    const toml::table* t = pn.as_table();
    if (t == nullptr) {
        message = Located(path, TomlLine(pn), "a phase must be a table");
        return false;
    }
    ph.line = TomlLine(pn);
    return ReadPhaseKeys(*t, path, ph, message) && CheckPhase(ph, path, message);
}

} // namespace

bool ReadSystemFile(const std::string& path, SystemFile& sys, std::string& message) {
    sys = SystemFile{};
    sys.path = path;
    toml::table root;
    if (!ParseSystemToml(path, root, message)) return false;
    if (!ReadTopKeys(root, sys, message)) return false;
    const toml::array* phases = root["phase"].as_array();
    if (phases == nullptr || phases->empty()) {
        message = Located(path, 0, "no [[phase]] tables");
        return false;
    }
    for (const toml::node& pn : *phases) {
        SystemPhase ph;
        if (!ReadPhase(pn, path, ph, message)) return false;
        sys.phases.push_back(std::move(ph));
    }
    return true;
}

std::string SystemDatabasePath(const SystemFile& sys) {
    if (sys.database.empty()) return (fs::path(LUMORA_DATA_DIR) / "thermo.toml").string();
    return ResolveDataPath(sys.database, fs::path(sys.path).parent_path().string());
}

namespace {

using ElementList = std::vector<std::pair<int, double>>;

/// The kind of every phase (from the file, else from its first species) and the index of
/// the one aqueous phase; false with a message for none or two.
bool ClassifyPhases(const SystemFile& sys, const Database& db, std::vector<std::string>& kinds,
                    int& aqueous, std::string& message) {
    aqueous = -1;
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
    if (aqueous >= 0) return true;
    message = Located(sys.path, 0, "no aqueous phase");
    return false;
}

/// What is wrong with species s of a phase of the given kind ("" when nothing).
std::string SpeciesProblem(const SysRec& rec, const SpeciesRecord& rs, const std::string& name,
                           const std::string& kind, bool aqueousPhase, size_t s) {
    const std::string dbPhase = rs.phase == "aqueous" ? "aqueous" : rs.phase;
    if ((kind == "aqueous") != (dbPhase == "aqueous"))
        return "species \"" + name + "\" is a" +
               (dbPhase == "aqueous" ? "n aqueous" : " " + dbPhase) + " species, not of a " + kind +
               " phase";
    if (std::find(rec.spName.begin(), rec.spName.end(), name) != rec.spName.end())
        return "species \"" + name + "\" listed twice";
    if (aqueousPhase && s == 0 && rs.model != SpeciesModel::Water)
        return "the aqueous phase must list water first";
    if (aqueousPhase && s > 0 && rs.model == SpeciesModel::Water)
        return "water must be the first aqueous species";
    return "";
}

struct SystemBuilder {
    const SystemFile& sys;
    const Database& db;
    SysRec& rec;
    std::vector<int>& dbIndex;
    std::string& message;
    std::vector<ElementList> formulas{1};

    /// Appends the species of phase ph; false with a message at the first bad one.
    bool AddPhase(const SystemPhase& ph, const std::string& kind, bool aqueousPhase) {
        SysPhase out;
        out.name = ph.name;
        out.offset = static_cast<int16_t>(rec.spName.size() - 1);
        for (size_t s = 0; s < ph.species.size(); ++s) {
            const int line = s < ph.lines.size() ? ph.lines[s] : ph.line;
            if (!AddSpecies(ph.species[s], kind, aqueousPhase, s, line)) return false;
        }
        out.nSpecies = static_cast<int16_t>(ph.species.size());
        if (kind == "mineral" && ph.species.size() == 1) ++rec.nPmc;
        rec.phases.push_back(std::move(out));
        return true;
    }

    bool AddSpecies(const std::string& name, const std::string& kind, bool aqueousPhase, size_t s,
                    int line) {
        const int i = db.Find(name);
        if (i <= 0) {
            const std::string dbName = fs::path(db.Path()).filename().string();
            return Fail(line, "unknown species \"" + name + "\" (not in database " + dbName + ")");
        }
        const SpeciesRecord& rs = db.Species(i);
        const std::string problem = SpeciesProblem(rec, rs, name, kind, aqueousPhase, s);
        if (!problem.empty()) return Fail(line, problem);
        ElementList elements;
        std::string why;
        if (!ParseFormula(db, rs.formula, elements, why))
            return Fail(line, "species \"" + name + "\": formula '" + rs.formula + "': " + why);
        if (const std::string c = UndeclaredComponent(elements); !c.empty())
            return Fail(line, "species \"" + name + "\" uses component '" + c +
                                  "', which the system does not declare in 'components'");
        if (rec.spName.size() > 32767) return Fail(line, "too many species");
        rec.spName.push_back(name);
        dbIndex.push_back(i);
        formulas.push_back(std::move(elements));
        return true;
    }

    /// The first component of a formula that the system file does not list ("" if none).
    std::string UndeclaredComponent(const ElementList& elements) const {
        for (const auto& [z, n] : elements) {
            if (z < kFirstComponentCode) continue;
            const std::string& name = db.ElementByZ(z)->symbol;
            if (std::find(sys.components.begin(), sys.components.end(), name) ==
                sys.components.end())
                return name;
        }
        return "";
    }

    /// Every declared component is one of the database's and used by a species.
    bool CheckComponents() {
        for (size_t c = 0; c < sys.components.size(); ++c) {
            const int line = sys.componentLines.size() > c ? sys.componentLines[c] : 0;
            const ElementInfo* e = db.Element(sys.components[c]);
            if (e == nullptr || e->z < kFirstComponentCode)
                return Fail(line, "'" + sys.components[c] + "' is no component of database " +
                                      fs::path(db.Path()).filename().string());
            if (std::find(rec.elemCode.begin() + 1, rec.elemCode.end(), e->z) == rec.elemCode.end())
                return Fail(line,
                            "component '" + sys.components[c] + "' is in no species of the system");
        }
        return true;
    }

    bool Fail(int line, const std::string& what) {
        message = Located(sys.path, line, what);
        return false;
    }

    /// Elements of species from..to in the order they first occur.
    void AddElements(int from, int to) {
        for (int i = from; i <= to; ++i)
            for (const auto& [z, n] : formulas[i])
                if (n != 0 && std::find(rec.elemCode.begin() + 1, rec.elemCode.end(), z) ==
                                  rec.elemCode.end())
                    rec.elemCode.push_back(static_cast<int16_t>(z));
    }
};

} // namespace

bool BuildSystem(const SystemFile& sys, const Database& db, SysRec& rec, std::vector<int>& dbIndex,
                 std::string& message) {
    rec = SysRec{};
    dbIndex.assign(1, 0);
    std::vector<std::string> kinds;
    int aqueous = -1;
    if (!ClassifyPhases(sys, db, kinds, aqueous, message)) return false;
    // Species order: other phases in file order, the aqueous phase last.
    std::vector<size_t> order;
    for (size_t p = 0; p < sys.phases.size(); ++p)
        if (static_cast<int>(p) != aqueous) order.push_back(p);
    order.push_back(static_cast<size_t>(aqueous));
    rec.spName.assign(1, "");
    SystemBuilder builder{sys, db, rec, dbIndex, message};
    for (size_t p : order)
        if (!builder.AddPhase(sys.phases[p], kinds[p], static_cast<int>(p) == aqueous))
            return false;
    const int count = static_cast<int>(rec.spName.size()) - 1;
    const int firstAq = rec.phases.back().offset + 1;
    rec.nAq = static_cast<int16_t>(count - firstAq + 1);
    rec.lastAq = static_cast<int16_t>(count);
    // Elements: aqueous species first (water leads with H and O), then the other phases.
    rec.elemCode.assign(1, 0);
    builder.AddElements(firstAq, count);
    builder.AddElements(1, firstAq - 1);
    rec.nElem = static_cast<int16_t>(rec.elemCode.size() - 1);
    return builder.CheckComponents();
}

} // namespace lumora
