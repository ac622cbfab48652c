#include "engine/Database.h"

#include "engine/DataPath.h"
#include "engine/Formula.h"
#include "engine/TomlNode.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>

namespace lumora {

namespace {

// Code ranges of the species models.
constexpr int kFirstHkfCode = 3;
constexpr int kLastHkfCode = 1023;
constexpr int kFirstLogKCode = 1024;
constexpr int kLastLogKCode = 2047;
constexpr int kFirstOtherCode = 2048;
constexpr int kLastOtherCode = 32767;

/// A load failure: the problem and the line it was found on (0 = whole file).
struct LoadError {
    std::string what;
    int line = 0;
};

std::optional<SpeciesModel> ModelFromName(std::string_view s) {
    if (s == "water") return SpeciesModel::Water;
    if (s == "proton") return SpeciesModel::Proton;
    if (s == "hydroxide") return SpeciesModel::Hydroxide;
    if (s == "hkf") return SpeciesModel::Hkf;
    if (s == "logk") return SpeciesModel::LogK;
    if (s == "fixed") return SpeciesModel::Fixed;
    if (s == "other") return SpeciesModel::Other;
    return std::nullopt;
}

/// A capital letter and lower-case letters: what the formula reader takes as one name.
bool IsSymbolShaped(const std::string& s) {
    return !s.empty() && std::isupper(static_cast<unsigned char>(s[0])) &&
           std::all_of(s.begin() + 1, s.end(),
                       [](char c) { return std::islower(static_cast<unsigned char>(c)) != 0; });
}

/// Reads keys of one TOML table with the line of the table for messages.
class TableReader {
public:
    TableReader(const toml::table& t, std::string what) : t_(t), what_(std::move(what)) {}

    std::string Text(const char* key, bool required = true, std::string fallback = {}) const {
        const toml::node* n = t_.get(key);
        if (n == nullptr) {
            if (required) Throw(n, std::string("missing '") + key + "'");
            return fallback;
        }
        if (auto v = n->value_exact<std::string>()) return *v;
        Throw(n, std::string("'") + key + "' must be a text");
        return {};
    }

    double Number(const char* key, bool required = true, double fallback = 0.0) const {
        const toml::node* n = t_.get(key);
        if (n == nullptr) {
            if (required) Throw(n, std::string("missing '") + key + "'");
            return fallback;
        }
        const std::optional<double> v = TomlNumber(*n);
        if (!v) Throw(n, std::string("'") + key + "' must be a finite number");
        return *v;
    }

    const toml::table* Table(const char* key, bool required) const {
        const toml::node* n = t_.get(key);
        if (n == nullptr) {
            if (required) Throw(n, std::string("missing table '") + key + "'");
            return nullptr;
        }
        if (!n->is_table()) Throw(n, std::string("'") + key + "' must be a table");
        return n->as_table();
    }

    [[noreturn]] void Throw(const toml::node* n, const std::string& why) const {
        throw LoadError{what_ + ": " + why, n != nullptr ? TomlLine(*n) : TomlLine(t_)};
    }

    const toml::table& table() const { return t_; }

private:
    const toml::table& t_;
    std::string what_;
};

ElementInfo ReadElement(const toml::table& t, int number) {
    TableReader r(t, "element " + std::to_string(number));
    ElementInfo e;
    e.symbol = r.Text("symbol");
    const double z = r.Number("z");
    if (z < 1 || z > 118 || z != std::floor(z)) r.Throw(t.get("z"), "atomic number out of range");
    e.z = static_cast<int16_t>(z);
    e.molarMass = r.Number("mass");
    if (e.molarMass <= 0) r.Throw(t.get("mass"), "molar mass must be positive");
    if (!IsSymbolShaped(e.symbol))
        r.Throw(t.get("symbol"), "invalid element symbol '" + e.symbol + "'");
    return e;
}

HkfParams ReadHkf(const TableReader& outer) {
    const toml::table* t = outer.Table("hkf", true);
    TableReader r(*t, "hkf parameters");
    HkfParams h;
    h.Gf = r.Number("Gf");
    h.Hf = r.Number("Hf");
    h.S = r.Number("S");
    h.a1 = r.Number("a1");
    h.a2 = r.Number("a2");
    h.a3 = r.Number("a3");
    h.a4 = r.Number("a4");
    h.c1 = r.Number("c1");
    h.c2 = r.Number("c2");
    h.omega = r.Number("omega");
    return h;
}

LogKParams ReadLogK(const TableReader& outer) {
    const toml::table* t = outer.Table("logk", true);
    TableReader r(*t, "logk parameters");
    LogKParams k;
    const toml::table* reaction = r.Table("reaction", true);
    for (const auto& [key, node] : *reaction) {
        const std::optional<double> nu = TomlNumber(node);
        if (!nu || *nu == 0)
            r.Throw(&node, "reaction coefficient of '" + std::string(key.str()) +
                               "' must be a non-zero number");
        k.reactants.emplace_back(std::string(key.str()), *nu);
    }
    if (k.reactants.empty()) r.Throw(reaction, "empty reaction");
    k.a = r.Number("a", false);
    k.b = r.Number("b", false);
    k.c = r.Number("c", false);
    k.d = r.Number("d", false);
    k.e = r.Number("e", false);
    k.f = r.Number("f", false);
    k.g = r.Number("g", false);
    return k;
}

/// (T, G) of a fixed species: "G = -12.5" or "G = [[25, -12.5], [50, -13.1]]".
FixedParams ReadFixed(const TableReader& r) {
    const toml::table& t = r.table();
    const toml::node* g = t.get("G");
    FixedParams f;
    if (g == nullptr || !g->is_array()) {
        f.points.emplace_back(25.0, r.Number("G"));
        return f;
    }
    const char* shape = "'G' must be a number or a list of [T, G] pairs with growing T";
    for (const toml::node& pair : *g->as_array()) {
        const toml::array* a = pair.as_array();
        if (a == nullptr || a->size() != 2) r.Throw(&pair, shape);
        const std::optional<double> T = TomlNumber(*a->get(0)), G = TomlNumber(*a->get(1));
        if (!T || !G || (!f.points.empty() && !(*T > f.points.back().first))) r.Throw(&pair, shape);
        f.points.emplace_back(*T, *G);
    }
    if (f.points.empty()) r.Throw(g, shape);
    return f;
}

/// Symbols of the chemical elements 1..118, which no component may take.
bool IsElementSymbol(const std::string& s) {
    static const char* const kSymbols =
        " H He Li Be B C N O F Ne Na Mg Al Si P S Cl Ar K Ca Sc Ti V Cr Mn Fe Co Ni Cu Zn Ga Ge"
        " As Se Br Kr Rb Sr Y Zr Nb Mo Tc Ru Rh Pd Ag Cd In Sn Sb Te I Xe Cs Ba La Ce Pr Nd Pm"
        " Sm Eu Gd Tb Dy Ho Er Tm Yb Lu Hf Ta W Re Os Ir Pt Au Hg Tl Pb Bi Po At Rn Fr Ra Ac Th"
        " Pa U Np Pu Am Cm Bk Cf Es Fm Md No Lr Rf Db Sg Bh Hs Mt Ds Rg Cn Nh Fl Mc Lv Ts Og ";
    return std::string_view(kSymbols).find(" " + s + " ") != std::string_view::npos;
}

/// The components (components = ["Host", "Guest"]), coded after the elements.
void ReadComponents(const toml::table& root, std::vector<ElementInfo>& elements) {
    const toml::node* n = root.get("components");
    if (n == nullptr) return;
    const toml::array* list = n->as_array();
    if (list == nullptr) throw LoadError{"'components' must be a list of names", TomlLine(*n)};
    int code = kFirstComponentCode;
    for (const toml::node& c : *list) {
        const auto name = c.value_exact<std::string>();
        if (!name || !IsSymbolShaped(*name))
            throw LoadError{"a component name is a capital letter and lower-case letters "
                            "(\"Host\", \"Guest\")",
                            TomlLine(c)};
        if (IsElementSymbol(*name))
            throw LoadError{"component '" + *name + "' is an element symbol", TomlLine(c)};
        for (const ElementInfo& old : elements)
            if (old.symbol == *name)
                throw LoadError{"component '" + *name + "' defined twice", TomlLine(c)};
        if (code > kLastComponentCode) throw LoadError{"too many components", TomlLine(c)};
        elements.push_back({*name, static_cast<int16_t>(code++), 0.0});
    }
}

/// The element table; every symbol and atomic number once.
std::vector<ElementInfo> ReadElements(const toml::table& root) {
    const toml::array* els = root["elements"].as_array();
    if (els == nullptr) throw LoadError{"missing 'elements' list", 0};
    std::vector<ElementInfo> elements;
    int number = 0;
    for (const toml::node& n : *els) {
        ++number;
        if (!n.is_table())
            throw LoadError{"element " + std::to_string(number) + " must be a table", TomlLine(n)};
        ElementInfo e = ReadElement(*n.as_table(), number);
        for (const ElementInfo& old : elements)
            if (old.symbol == e.symbol || old.z == e.z)
                throw LoadError{"element '" + e.symbol + "' defined twice", TomlLine(n)};
        elements.push_back(std::move(e));
    }
    return elements;
}

/// The species tables in order, each checked against the ones before it; species codes
/// are handed out per model.
class SpeciesTableReader {
public:
    explicit SpeciesTableReader(const Database& db) : db_(db) {}

    std::vector<SpeciesRecord> Read(const toml::table& root) {
        const toml::array* sps = root["species"].as_array();
        if (sps == nullptr) throw LoadError{"missing 'species' tables", 0};
        int number = 0;
        for (const toml::node& n : *sps) {
            ++number;
            if (!n.is_table())
                throw LoadError{"species " + std::to_string(number) + " must be a table",
                                TomlLine(n)};
            species_.push_back(ReadOne(*n.as_table(), number));
        }
        if (species_.size() > 32767) throw LoadError{"too many species", 0};
        return std::move(species_);
    }

private:
    SpeciesRecord ReadOne(const toml::table& t, int number) {
        TableReader r(t, "species " + std::to_string(number));
        SpeciesRecord s;
        s.name = r.Text("name");
        if (s.name.empty()) r.Throw(t.get("name"), "empty name");
        TableReader rs(t, "species '" + s.name + "'");
        if (Known(s.name)) rs.Throw(t.get("name"), "defined twice");
        s.formula = rs.Text("formula");
        s.charge = rs.Number("charge", false, 0.0);
        s.phase = rs.Text("phase", false, "aqueous");
        s.source = rs.Text("source");
        s.ionSize = rs.Number("ionSize", false, s.charge != 0 ? kDefaultIonSize : 0.0);
        if (s.ionSize < 0) rs.Throw(t.get("ionSize"), "ion size must not be negative");

        std::vector<std::pair<int, double>> parsed;
        std::string problem;
        if (!ParseFormula(db_, s.formula, parsed, problem))
            rs.Throw(t.get("formula"), "formula '" + s.formula + "': " + problem);

        const std::string modelName = rs.Text("model");
        const auto model = ModelFromName(modelName);
        if (!model) rs.Throw(t.get("model"), "unknown model '" + modelName + "'");
        s.model = *model;
        ReadModel(t, rs, modelName, s);
        if (s.model != SpeciesModel::Other && s.phase != "aqueous")
            rs.Throw(t.get("phase"), "model '" + modelName + "' needs phase \"aqueous\"");
        return s;
    }

    /// The model's parameters and the species code.
    void ReadModel(const toml::table& t, TableReader& rs, const std::string& modelName,
                   SpeciesRecord& s) {
        switch (s.model) {
        case SpeciesModel::Water:
            s.code = Unique(t, rs, modelName, s.model, 0);
            break;
        case SpeciesModel::Proton:
            s.code = Unique(t, rs, modelName, s.model, 1);
            break;
        case SpeciesModel::Hydroxide:
            s.code = Unique(t, rs, modelName, s.model, 2);
            break;
        case SpeciesModel::Hkf:
            s.hkf = ReadHkf(rs);
            if (nextHkf_ > kLastHkfCode) rs.Throw(&t, "too many HKF species");
            s.code = static_cast<int16_t>(nextHkf_++);
            break;
        case SpeciesModel::Fixed:
            s.fixed = ReadFixed(rs);
            s.code = NextFormationCode(t, rs);
            break;
        case SpeciesModel::LogK:
            s.logk = ReadLogK(rs);
            // Reactants must come first: that keeps the reactions free of cycles.
            for (const auto& [name, nu] : s.logk.reactants)
                if (!Known(name))
                    rs.Throw(t.get("logk"), "reactant '" + name + "' must be defined earlier");
            s.code = NextFormationCode(t, rs);
            break;
        case SpeciesModel::Other:
            if (nextOther_ > kLastOtherCode) rs.Throw(&t, "too many species");
            s.code = static_cast<int16_t>(nextOther_++);
            break;
        }
    }

    /// Log K and fixed species share the codes above the HKF ones.
    int16_t NextFormationCode(const toml::table& t, TableReader& rs) {
        if (nextLogK_ > kLastLogKCode) rs.Throw(&t, "too many log K and fixed species");
        return static_cast<int16_t>(nextLogK_++);
    }

    /// Water, H+ and OH- each have one species and a fixed code.
    int16_t Unique(const toml::table& t, TableReader& rs, const std::string& modelName,
                   SpeciesModel m, int16_t code) const {
        for (const SpeciesRecord& old : species_)
            if (old.model == m) rs.Throw(t.get("model"), "model '" + modelName + "' used twice");
        return code;
    }

    bool Known(const std::string& name) const {
        return std::any_of(species_.begin(), species_.end(),
                           [&](const SpeciesRecord& o) { return o.name == name; });
    }

    const Database& db_;
    std::vector<SpeciesRecord> species_;
    int nextHkf_ = kFirstHkfCode;
    int nextLogK_ = kFirstLogKCode;
    int nextOther_ = kFirstOtherCode;
};

toml::table ParseToml(const std::string& path) {
    if (const std::string why = NotARegularFile(path); !why.empty()) throw LoadError{why, 0};
    try {
        return toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        throw LoadError{std::string(e.description()), static_cast<int>(e.source().begin.line)};
    }
}

} // namespace

bool Database::Load(const std::string& path, std::string& message) {
    message.clear();
    std::vector<ElementInfo> oldElements = elements_;
    std::vector<ElementInfo> elements;
    std::vector<SpeciesRecord> species;
    try {
        const toml::table root = ParseToml(path);
        elements = ReadElements(root);
        ReadComponents(root, elements);
        elements_ = elements; // the formula checks below need the element table
        species = SpeciesTableReader(*this).Read(root);
    } catch (const LoadError& e) {
        elements_ = std::move(oldElements);
        std::ostringstream os;
        os << path;
        if (e.line > 0) os << ", line " << e.line;
        os << ": " << e.what;
        message = os.str();
        return false;
    }
    path_ = path;
    elements_ = std::move(elements);
    species_ = std::move(species);
    return true;
}

int Database::Find(const std::string& name) const {
    for (size_t i = 0; i < species_.size(); ++i)
        if (species_[i].name == name) return static_cast<int>(i) + 1;
    return -1;
}

const ElementInfo* Database::Element(const std::string& symbol) const {
    for (const ElementInfo& e : elements_)
        if (e.symbol == symbol) return &e;
    return nullptr;
}

const ElementInfo* Database::ElementByZ(int z) const {
    for (const ElementInfo& e : elements_)
        if (e.z == z) return &e;
    return nullptr;
}

} // namespace lumora
