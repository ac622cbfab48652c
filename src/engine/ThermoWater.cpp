#include "engine/ThermoCommands.h"

#include "engine/WaterIapws95.h"
#include "engine/WaterState.h"

#include <ostream>

namespace lumora {

int ThermoWater(const ThermoArgs& a, std::ostream& out, std::ostream& err) {
    double tC = 0, pBar = 0;
    if (!ParseTP(a, 0, tC, pBar, err)) return 2;
    const double T = tC + 273.15;
    std::string why;
    const WaterState w = WaterAt(T, pBar, &why);
    if (!w.ok) {
        err << "No water properties at " << FormatNumber(tC) << " C, " << FormatNumber(pBar)
            << " bar: " << why << "\n";
        return 1;
    }
    ThermoRecord r;
    r.Add("T_C", tC);
    r.Add("P_bar", w.P);
    r.Add("density_g_cm3", w.rho);
    double psat = 0, rhoSat = 0;
    if (T < iapws95::kTc && WaterSaturation(T, psat, rhoSat)) r.Add("psat_bar", psat);
    r.Add("dielectric", w.eps);
    r.Add("G_J_mol", w.G);
    r.Add("A_gamma", w.Agamma);
    r.Add("B_gamma", w.Bgamma);
    r.Print(out, a.json);
    return 0;
}

} // namespace lumora
