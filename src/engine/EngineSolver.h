#pragma once
// The solver component: database, options and system of a speciation, overridden Gibbs
// energies, and the equilibrium of one solution (see Equilibrium.h for the method).
//
// Options (SetOptions): switches "/key=value", case-insensitive, blanks between them
// optional; every call starts from the defaults.
//   /mode=0|1               1: each call starts from the previous result for the same set
//                           of elements when the composition is near it (warm start);
//                           0 (default): every call starts cold
//   /activity=bdot|ideal    activity model of the solutes (default bdot)
//   /tol=X                  relative tolerance of the balances, 1e-15..1e-6 (default 1e-13)
//   /maxit=N                Newton iterations per start, 1..10000 (default 200)
// Anything else is refused: LastMessage() says which switch, and the options stay as they
// were.
//
// Database: the one given to OpenDatabase ("" = the bundled thermo.toml); when none was
// opened, OpenSystem uses the database the system file names (else the bundled one).
//
// Equilibrate codes (EquilibriumCode): 0 success, 1 no system or no water properties at
// (t, p), 2 bad input, 3 a bulk that cannot be neutral or matched, 4 no convergence,
// 5 phases other than the aqueous solution. Only the aqueous solution is equilibrated, so a
// system listing gases or minerals is refused rather than solved without them.

#include "engine/Database.h"
#include "engine/Equilibrium.h"
#include "engine/Solver.h"
#include "engine/SysRec.h"
#include "engine/SystemFile.h"
#include "engine/WaterState.h"

#include <optional>
#include <vector>

namespace lumora {

class EngineSolver final : public Solver {
public:
    void Shutdown() override;
    void SetOptions(const std::string& options) override;
    void OpenDatabase(const std::string& path) override;
    void OpenSystem(const std::string& path) override;
    void SetSpeciesG(int16_t species, float g) override;
    std::string LastMessage() override { return message_; }
    /// (27, 0) forgets the warm start; other controls are ignored.
    void SetControl(int what, int value) override;
    void Equilibrate(float t, float p, std::span<double> work1, std::span<const double> bulk,
                     std::span<double> amounts, std::span<double> work2, int16_t& code) override;
    int16_t Version() override;

    /// Opens a system given in memory (the command line builds one from species names).
    bool OpenSystemFile(const SystemFile& sys);

    const SysRec& System() const { return rec_; }
    const Database& Db() const { return db_; }
    bool HasDatabase() const { return haveDb_; }
    const EquilibriumOptions& Options() const { return options_; }
    /// Outcome of the last Equilibrate.
    const EquilibriumResult& LastResult() const { return last_; }
    /// Activity coefficient of system species i at the last result's ionic strength.
    double Gamma(int i) const;

private:
    bool LoadDatabase(const std::string& path);
    bool UpdateConditions(float t, float p);

    Database db_;
    bool haveDb_ = false;
    SysRec rec_;
    std::vector<int> dbIndex_;
    bool haveSystem_ = false;
    /// Species of phases other than the aqueous one
    int nOther_ = 0;
    Equilibrium eq_;
    /// Gibbs energy (J/mol) set by SetSpeciesG, per aqueous species (0 = water)
    std::vector<std::optional<double>> override_;
    std::vector<double> work_;
    // Standard properties cached for one (t, p).
    bool haveConditions_ = false;
    float t_ = 0, p_ = 0;
    std::string conditionsProblem_;
    EquilibriumOptions options_;
    EquilibriumResult last_;
    std::string message_;
};

} // namespace lumora
