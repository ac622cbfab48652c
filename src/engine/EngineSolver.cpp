#include "engine/EngineSolver.h"

#include "engine/EngineFactory.h"
#include "engine/Formula.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace lumora {

namespace {

std::string Lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

bool ParseNumber(const std::string& text, double& v) {
    if (text.empty()) return false;
    char* end = nullptr;
    v = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(v);
}

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const auto p = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

} // namespace

void EngineSolver::Shutdown() {
    haveSystem_ = false;
    haveDb_ = false;
    db_ = Database{};
    rec_ = SysRec{};
    std::string ignored;
    eq_.SetSpecies({}, {}, ignored);
    message_.clear();
}

void EngineSolver::SetOptions(const std::string& text) {
    EquilibriumOptions o;
    const std::string t = Trim(text);
    size_t pos = 0;
    while (pos < t.size()) {
        if (std::isspace(static_cast<unsigned char>(t[pos]))) {
            ++pos;
            continue;
        }
        if (t[pos] != '/') {
            message_ = "Vexil: options must be switches such as \"/mode=1\": " + t.substr(pos);
            return;
        }
        size_t end = t.find_first_of("/ \t\r\n", pos + 1);
        if (end == std::string::npos) end = t.size();
        const std::string sw = t.substr(pos, end - pos);
        pos = end;
        const size_t eq = sw.find('=');
        const std::string key =
            Lower(sw.substr(1, eq == std::string::npos ? std::string::npos : eq - 1));
        const std::string value = eq == std::string::npos ? "" : Lower(sw.substr(eq + 1));
        double v = 0;
        if (key == "mode" && (value == "0" || value == "1")) {
            o.warmStart = value == "1";
        } else if (key == "activity" && (value == "bdot" || value == "ideal")) {
            o.activity = value == "bdot" ? ActivityModel::BDot : ActivityModel::Ideal;
        } else if (key == "tol" && ParseNumber(value, v) && v >= 1e-15 && v <= 1e-6) {
            o.tolerance = v;
        } else if (key == "maxit" && ParseNumber(value, v) && v >= 1 && v <= 10000 &&
                   v == std::floor(v)) {
            o.maxIterations = static_cast<int>(v);
        } else {
            message_ = "Vexil: unknown option \"" + sw + "\"";
            return;
        }
    }
    options_ = o;
    message_.clear();
}

bool EngineSolver::LoadDatabase(const std::string& path) {
    const std::string resolved =
        path.empty() ? SystemDatabasePath(SystemFile{}) : ResolveDataPath(path);
    Database db;
    std::string msg;
    if (!db.Load(resolved, msg)) {
        message_ = msg.empty() ? "Vexil: cannot read database " + resolved : msg;
        return false;
    }
    db_ = std::move(db);
    haveDb_ = true;
    return true;
}

void EngineSolver::OpenDatabase(const std::string& path) {
    // The open system's species refer to the old database: it must be opened again.
    haveSystem_ = false;
    haveDb_ = false;
    if (LoadDatabase(path)) message_.clear();
}

void EngineSolver::OpenSystem(const std::string& path) {
    haveSystem_ = false;
    SystemFile sys;
    if (!ReadSystemFile(ResolveDataPath(path), sys, message_)) return;
    OpenSystemFile(sys);
}

bool EngineSolver::OpenSystemFile(const SystemFile& sys) {
    haveSystem_ = false;
    haveConditions_ = false;
    const std::string sysDb = SystemDatabasePath(sys);
    if (!haveDb_ && !LoadDatabase(sysDb)) return false;
    SysRec rec;
    std::vector<int> dbIndex;
    if (!BuildSystem(sys, db_, rec, dbIndex, message_)) return false;
    // The system reader numbers the elements from the system file's own database: both
    // must agree, or the bulk compositions would be read in the wrong order.
    if (!sys.database.empty() && Canonical(sysDb) != Canonical(db_.Path())) {
        Database other;
        SysRec otherRec;
        std::vector<int> otherIndex;
        std::string msg;
        if (other.Load(sysDb, msg) && BuildSystem(sys, other, otherRec, otherIndex, msg) &&
            otherRec.elemCode != rec.elemCode) {
            message_ = sys.path + ": the database it names orders the elements differently from " +
                       db_.Path();
            return false;
        }
    }
    // Aqueous species as the equilibrium sees them.
    const int firstAq = rec.phases.back().offset + 1;
    std::vector<EquilibriumSpecies> species;
    for (int i = firstAq; i <= rec.lastAq; ++i) {
        const SpeciesRecord& s = db_.Species(dbIndex[i]);
        std::vector<std::pair<int, double>> elements;
        std::string problem;
        ParseFormula(db_, s.formula, elements, problem);
        EquilibriumSpecies e;
        e.stoich.assign(static_cast<size_t>(rec.nElem), 0.0);
        for (const auto& [z, n] : elements)
            for (int m = 1; m <= rec.nElem; ++m)
                if (rec.elemCode[m] == z) e.stoich[m - 1] += n;
        e.charge = s.charge;
        e.ionSize = s.ionSize;
        species.push_back(std::move(e));
    }
    std::vector<std::string> names;
    for (int m = 1; m <= rec.nElem; ++m) {
        const ElementInfo* el = db_.ElementByZ(rec.elemCode[m]);
        names.push_back(el ? el->symbol : std::to_string(rec.elemCode[m]));
    }
    std::string msg;
    if (!eq_.SetSpecies(std::move(species), std::move(names), msg)) {
        message_ = sys.path + ": " + msg;
        return false;
    }
    rec_ = std::move(rec);
    dbIndex_ = std::move(dbIndex);
    nOther_ = firstAq - 1;
    override_.assign(static_cast<size_t>(rec_.nAq), std::nullopt);
    work_.assign(static_cast<size_t>(rec_.nAq), 0.0);
    last_ = EquilibriumResult{};
    haveSystem_ = true;
    message_ = "System file accepted";
    return true;
}

void EngineSolver::SetSpeciesG(int16_t species, float g) {
    if (!haveSystem_ || species < 1 || species > rec_.lastAq) {
        message_ = "Vexil: species " + std::to_string(species) + " is not in the system";
        return;
    }
    const int local = species - (rec_.phases.back().offset + 1);
    if (local < 0) {
        message_ = "Vexil: species " + rec_.spName[species] +
                   " is not aqueous; its Gibbs energy is not used";
        return;
    }
    const double G = static_cast<double>(g) * 1000.0;
    override_[local] = G;
    eq_.SetGibbs(local, G);
}

void EngineSolver::SetControl(int what, int value) {
    if (what == 27 && value == 0) eq_.ForgetWarmStart();
}

int16_t EngineSolver::Version() {
    return kEngineVersion;
}

/// Standard Gibbs energies and Debye-Hueckel parameters at (t, p), once per pair.
bool EngineSolver::UpdateConditions(float t, float p) {
    if (haveConditions_ && t == t_ && p == p_) return conditionsProblem_.empty();
    haveConditions_ = true;
    t_ = t;
    p_ = p;
    conditionsProblem_.clear();
    std::string why;
    const WaterState w = WaterAt(static_cast<double>(t) + 273.15, static_cast<double>(p), &why);
    auto where = [&] {
        char buf[64];
        std::snprintf(buf, sizeof buf, " at %g C, %g bar", static_cast<double>(t),
                      static_cast<double>(p));
        return std::string(buf);
    };
    if (!w.ok) {
        conditionsProblem_ =
            "Vexil: no water properties" + where() + (why.empty() ? "" : ": " + why);
        return false;
    }
    const int firstAq = rec_.phases.back().offset + 1;
    for (int k = 0; k < rec_.nAq; ++k) {
        if (override_[k]) continue;
        double G = 0;
        if (!StandardGibbs(db_, dbIndex_[firstAq + k], w, G) || !std::isfinite(G)) {
            conditionsProblem_ =
                "Vexil: no standard Gibbs energy of " + rec_.spName[firstAq + k] + where();
            return false;
        }
        eq_.SetGibbs(k, G);
    }
    eq_.SetActivityParams({w.T, w.Agamma, w.Bgamma, w.Bdot});
    return true;
}

void EngineSolver::Equilibrate(float t, float p, std::span<double> work1,
                               std::span<const double> bulk, std::span<double> amounts,
                               std::span<double> work2, int16_t& code) {
    (void)work1;
    (void)work2;
    auto fail = [&](int16_t c, const std::string& msg) {
        std::fill(amounts.begin(), amounts.end(), 0.0);
        code = c;
        last_ = EquilibriumResult{};
        last_.code = c;
        last_.message = msg;
        message_ = msg;
    };
    if (!haveSystem_) return fail(kEqNoSystem, "Vexil: no system is open");
    if (nOther_ > 0)
        return fail(kEqUnsupported,
                    "Vexil: only the aqueous solution is equilibrated; the system lists " +
                        std::to_string(nOther_) + " species of other phases");
    if (!std::isfinite(t) || !std::isfinite(p) || p < 0)
        return fail(kEqBadInput, "Vexil: temperature or pressure is not a valid number");
    if (static_cast<int>(amounts.size()) < rec_.lastAq + 1)
        return fail(kEqBadInput, "Vexil: the amounts array is too small");
    if (!UpdateConditions(t, p)) {
        // The reason is cached with (t, p); a later pair is tried afresh.
        return fail(kEqNoSystem, conditionsProblem_);
    }
    last_ = eq_.Solve(bulk, work_, options_);
    code = last_.code;
    std::fill(amounts.begin(), amounts.end(), 0.0);
    if (last_.code != kEqOk) {
        message_ = last_.message;
        return;
    }
    const int firstAq = rec_.phases.back().offset + 1;
    std::copy(work_.begin(), work_.end(), amounts.begin() + firstAq);
    if (message_ != "OK") message_ = "OK";
}

double EngineSolver::Gamma(int i) const {
    if (!haveSystem_) return 1;
    const int local = i - (rec_.phases.back().offset + 1);
    return std::exp(eq_.LnGamma(local, last_.ionicStrength, options_.activity));
}

} // namespace lumora
