// Chemical formulas into element amounts.

#include "engine/Formula.h"
#include "engine/Database.h"

#include <gtest/gtest.h>

#include <map>

namespace lumora {
namespace {

const Database& Db() {
    static Database db = [] {
        Database d;
        std::string msg;
        EXPECT_TRUE(d.Load(std::string(LUMORA_ENGINE_DATA_DIR) + "/thermo.toml", msg)) << msg;
        return d;
    }();
    return db;
}

std::map<int, double> Parse(const std::string& f) {
    std::vector<std::pair<int, double>> el;
    std::string problem;
    EXPECT_TRUE(ParseFormula(Db(), f, el, problem)) << f << ": " << problem;
    return {el.begin(), el.end()};
}

TEST(Formula, KnownFormulas) {
    const struct {
        const char* formula;
        std::map<int, double> expected;
    } cases[] = {
        {"H2O", {{1, 2}, {8, 1}}},
        {"NaCl", {{11, 1}, {17, 1}}},
        {"HCl", {{1, 1}, {17, 1}}},
        {"Co(ClO4)2", {{27, 1}, {17, 2}, {8, 8}}},
        {"CoCl2*6H2O", {{27, 1}, {17, 2}, {1, 12}, {8, 6}}},
        {"CoCl2\xC2\xB7"
         "6H2O",
         {{27, 1}, {17, 2}, {1, 12}, {8, 6}}},
        {"Fe0.5Cl1.5", {{26, 0.5}, {17, 1.5}}},
        {"Cu[Cl2(OH)]2", {{29, 1}, {17, 4}, {8, 2}, {1, 2}}},
        {"CoCl4-2", {{27, 1}, {17, 4}}},
        {"CoCl+", {{27, 1}, {17, 1}}},
        {"NaCl(aq)", {{11, 1}, {17, 1}}},
        {"NaOH", {{11, 1}, {8, 1}, {1, 1}}},
    };
    for (const auto& c : cases) EXPECT_EQ(Parse(c.formula), c.expected) << c.formula;
}

TEST(Formula, OrderOfFirstAppearance) {
    std::vector<std::pair<int, double>> el;
    std::string problem;
    ASSERT_TRUE(ParseFormula(Db(), "NaOH", el, problem));
    ASSERT_EQ(el.size(), 3u);
    EXPECT_EQ(el[0].first, 11);
    EXPECT_EQ(el[1].first, 8);
    EXPECT_EQ(el[2].first, 1);
}

TEST(Formula, BadFormulasReportTheProblem) {
    const struct {
        const char* formula;
        const char* problem;
    } cases[] = {
        {"Xy2", "unknown element 'Xy'"},
        {"NaCl)", "unbalanced ')'"},
        {"Co(Cl", "unbalanced '('"},
        {"", "empty formula"},
        {"nacl", "missing element at position 1"},
        {"Co()", "empty group"},
        {"CoCl2*", "nothing after the hydrate separator"},
        {"CoCl2#", "unexpected '#' at position 6"},
        {"Na1.2.3", "invalid number"},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<int, double>> el{{1, 1}};
        std::string problem;
        EXPECT_FALSE(ParseFormula(Db(), c.formula, el, problem)) << c.formula;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.formula << ": " << problem;
        EXPECT_TRUE(el.empty());
    }
}

} // namespace
} // namespace lumora
