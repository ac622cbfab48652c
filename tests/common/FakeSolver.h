#pragma once
// A solver double for the fitting tests: the species amounts are a function of
// the element amounts (and of the Gibbs energies set, for tests that need them),
// so speciation is exact, instant and known to the test.

#include "engine/Solver.h"

#include <functional>
#include <map>
#include <string>

namespace lumora::test {

class FakeSolver : public Solver {
public:
    /// Fills amounts from bulk; g holds the Gibbs energies set so far by species index.
    using Speciation = std::function<void(const std::map<int16_t, float>& g,
                                          std::span<const double> bulk, std::span<double> amounts)>;

    explicit FakeSolver(Speciation s) : speciation_(std::move(s)) {}

    void Shutdown() override {}
    void SetOptions(const std::string&) override {}
    void OpenDatabase(const std::string&) override {}
    void OpenSystem(const std::string&) override {}
    void SetSpeciesG(int16_t species, float g) override { g_[species] = g; }
    std::string LastMessage() override { return lastMessage; }
    void SetControl(int, int) override {}
    void Equilibrate(float, float, std::span<double>, std::span<const double> bulk,
                     std::span<double> amounts, std::span<double>, int16_t& code) override {
        ++calls;
        if (failAtCall > 0 && calls == failAtCall) {
            code = failCode;
            lastMessage = failMessage;
            return;
        }
        speciation_(g_, bulk, amounts);
        code = 0;
    }
    int16_t Version() override { return 70; }

    const std::map<int16_t, float>& G() const { return g_; }

    std::string lastMessage = "OK";
    long calls = 0;
    long failAtCall = 0; ///< Equilibrate call (from 1) that fails; 0 = none
    int16_t failCode = 3;
    std::string failMessage = "Equilibrium not found";

private:
    Speciation speciation_;
    std::map<int16_t, float> g_;
};

} // namespace lumora::test
