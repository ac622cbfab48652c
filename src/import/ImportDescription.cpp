#include "import/ImportDescription.h"

#include "engine/DataPath.h"
#include "engine/TomlNode.h"

#include <toml++/toml.h>

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace lumora {

namespace {

/// A problem and the line it was found on (0: the whole file).
struct DescriptionError {
    int line = 0;
    std::string what;
};

int LineOf(const toml::node* n) {
    return n != nullptr ? TomlLine(*n) : 0;
}

[[noreturn]] void Throw(const toml::node* n, const std::string& what) {
    throw DescriptionError{LineOf(n), what};
}

/// Keys of a table that are not among `known` are refused: a misspelt key would be
/// dropped silently.
void OnlyKeys(const toml::table& t, std::initializer_list<std::string_view> known,
              const std::string& where) {
    for (const auto& [key, node] : t)
        if (std::find(known.begin(), known.end(), key.str()) == known.end())
            Throw(&node, "unknown key '" + std::string(key.str()) + "'" + where);
}

/// A finite number; `what` names it in the message otherwise.
double NumberNode(const toml::node& n, const std::string& what) {
    const std::optional<double> v = TomlNumber(n);
    if (!v) Throw(&n, what + " must be a number");
    return *v;
}

std::optional<double> Number(const toml::table& t, const char* key, bool required) {
    const toml::node* n = t.get(key);
    if (n == nullptr) {
        if (required) throw DescriptionError{LineOf(&t), std::string("missing '") + key + "'"};
        return std::nullopt;
    }
    return NumberNode(*n, std::string("'") + key + "'");
}

std::string Text(const toml::table& t, const char* key, bool required) {
    const toml::node* n = t.get(key);
    if (n == nullptr) {
        if (required) throw DescriptionError{LineOf(&t), std::string("missing '") + key + "'"};
        return "";
    }
    const auto v = n->value_exact<std::string>();
    if (!v) Throw(n, std::string("'") + key + "' must be a text");
    return *v;
}

const toml::array* List(const toml::table& t, const char* key) {
    const toml::node* n = t.get(key);
    if (n != nullptr && !n->is_array()) Throw(n, std::string("'") + key + "' must be a list");
    return n != nullptr ? n->as_array() : nullptr;
}

/// { Host = 1e-4, Guest = 0 }: formulas and non-negative concentrations.
Concentrations ReadConcentrations(const toml::table& t, const char* key) {
    const toml::node* n = t.get(key);
    if (n == nullptr) return {};
    if (!n->is_table()) Throw(n, std::string("'") + key + "' must be a table of concentrations");
    Concentrations c;
    for (const auto& [name, value] : *n->as_table()) {
        const double v = NumberNode(value, "the concentration of " + std::string(name.str()));
        if (v < 0) Throw(&value, "a negative concentration of " + std::string(name.str()));
        c.emplace_back(std::string(name.str()), v);
    }
    return c;
}

const toml::table& TableOf(const toml::node& n, const char* what) {
    if (!n.is_table()) Throw(&n, std::string(what) + " must be a table");
    return *n.as_table();
}

void ReadSpecies(const toml::array& list, DataSetLayout& sheet) {
    for (const toml::node& n : list) {
        const toml::table& t = TableOf(n, "a species");
        OnlyKeys(t, {"name", "fixed", "G", "initial"}, " in a species");
        LayoutSpecies sp;
        sp.name = Text(t, "name", true);
        sp.initial = Number(t, "initial", false);
        const bool fixed = t["fixed"].value_or(false);
        if (t.contains("fixed") && !t["fixed"].is_boolean())
            Throw(t.get("fixed"), "'fixed' must be true or false");
        if (fixed) sp.result = Number(t, "G", true);
        if (!fixed && t.contains("G")) Throw(t.get("G"), "'G' belongs to a fixed species");
        sheet.species.push_back(sp);
    }
    if (sheet.species.empty() || sheet.species.size() > 8)
        Throw(&list, "between 1 and 8 species are needed");
}

Titration ReadTitration(const toml::table& t) {
    OnlyKeys(t, {"cell_volume", "titrand", "titrant", "added"}, " in [titration]");
    Titration ti;
    ti.cellVolume = *Number(t, "cell_volume", true);
    if (!(ti.cellVolume > 0)) Throw(t.get("cell_volume"), "'cell_volume' must be positive");
    ti.titrand = ReadConcentrations(t, "titrand");
    ti.titrant = ReadConcentrations(t, "titrant");
    const toml::array* added = List(t, "added");
    if (added == nullptr) throw DescriptionError{LineOf(&t), "missing 'added'"};
    for (const toml::node& n : *added) {
        const double v = NumberNode(n, "an added volume");
        if (v < 0) Throw(&n, "an added volume must not be negative");
        ti.added.push_back(v);
    }
    return ti;
}

std::vector<LayoutSolution> ReadSolutions(const toml::array& list) {
    std::vector<LayoutSolution> out;
    for (const toml::node& n : list) {
        const toml::table& t = TableOf(n, "a solution");
        OnlyKeys(t, {"name", "composition", "density"}, " in a solution");
        LayoutSolution s;
        s.name = Text(t, "name", false);
        s.composition = ReadConcentrations(t, "composition");
        s.density = Number(t, "density", false).value_or(1.0);
        if (!(s.density > 0)) Throw(t.get("density"), "'density' must be positive");
        out.push_back(std::move(s));
    }
    return out;
}

void ReadDescription(const toml::table& root, ImportDescription& d) {
    OnlyKeys(root,
             {"title", "database", "system", "options", "T", "P", "wl_start", "wl_stop",
              "corrected", "species", "titration", "solution"},
             "");
    DataSetLayout& s = d.sheet;
    s.title = Text(root, "title", false);
    s.database = Text(root, "database", true);
    s.system = Text(root, "system", true);
    s.options = Text(root, "options", false);
    s.T = *Number(root, "T", true);
    s.P = *Number(root, "P", true);
    d.wlStart = Number(root, "wl_start", false);
    d.wlStop = Number(root, "wl_stop", false);
    if (const toml::array* c = List(root, "corrected"))
        for (const toml::node& n : *c) s.corrected.push_back(n.value_or(std::string()));
    const toml::array* species = List(root, "species");
    if (species == nullptr) throw DescriptionError{0, "no [[species]]"};
    ReadSpecies(*species, s);
    const toml::node* titration = root.get("titration");
    const toml::array* solutions = List(root, "solution");
    if ((titration != nullptr) == (solutions != nullptr))
        throw DescriptionError{0, "give either a [titration] or one [[solution]] per spectrum"};
    if (titration != nullptr) d.titration = ReadTitration(TableOf(*titration, "[titration]"));
    if (solutions != nullptr) d.solutions = ReadSolutions(*solutions);
}

} // namespace

bool LoadImportDescription(const std::string& path, ImportDescription& d, std::string& error) {
    d = ImportDescription{};
    try {
        if (const std::string why = NotARegularFile(path); !why.empty())
            throw DescriptionError{0, why};
        toml::table root;
        try {
            root = toml::parse_file(path);
        } catch (const toml::parse_error& e) {
            throw DescriptionError{static_cast<int>(e.source().begin.line),
                                   std::string(e.description())};
        }
        ReadDescription(root, d);
    } catch (const DescriptionError& e) {
        error = path + (e.line > 0 ? ", line " + std::to_string(e.line) : "") + ": " + e.what;
        return false;
    }
    return true;
}

} // namespace lumora
