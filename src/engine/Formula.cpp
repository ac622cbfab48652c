#include "engine/Formula.h"

#include "engine/Database.h"

#include <cctype>

namespace lumora {

namespace {

/// Recursive-descent reader of one formula; elements accumulate in order of first
/// appearance.
class FormulaParser {
public:
    FormulaParser(const Database& db, const std::string& text) : db_(db), s_(text) {}

    bool Parse(std::vector<std::pair<int, double>>& out, std::string& problem) {
        StripSuffixes();
        if (end_ == 0) return Fail("empty formula", problem);
        while (true) {
            // A part of a hydrate or adduct may start with a coefficient: "6H2O".
            double factor = 1.0;
            if (pos_ < end_ && IsNumberStart()) factor = Number();
            std::vector<std::pair<int, double>> part;
            if (!Groups(part, 0) || !error_.empty()) return Fail(error_, problem);
            if (part.empty()) return Fail("missing element at position " + Position(), problem);
            for (const auto& [z, n] : part) Add(out, z, n * factor);
            if (pos_ >= end_) break;
            if (!Separator())
                return Fail("unexpected '" + Char() + "' at position " + Position(), problem);
            if (pos_ >= end_) return Fail("nothing after the hydrate separator", problem);
        }
        return true;
    }

private:
    static void Add(std::vector<std::pair<int, double>>& list, int z, double n) {
        for (auto& e : list)
            if (e.first == z) {
                e.second += n;
                return;
            }
        list.emplace_back(z, n);
    }

    bool Fail(const std::string& why, std::string& problem) {
        problem = why.empty() ? "invalid formula" : why;
        return false;
    }

    std::string Position() const { return std::to_string(pos_ + 1); }
    std::string Char() const { return s_.substr(pos_, 1); }

    /// "(aq)", "(s)", "(g)" and a trailing charge ("+2", "-", "++") are not elements.
    void StripSuffixes() {
        end_ = s_.size();
        while (end_ > 0 && std::isspace(static_cast<unsigned char>(s_[end_ - 1]))) --end_;
        for (const char* suffix : {"(aq)", "(s)", "(g)", "(l)", ",aq"}) {
            const std::string sfx = suffix;
            if (end_ > sfx.size() && s_.compare(end_ - sfx.size(), sfx.size(), sfx) == 0) {
                end_ -= sfx.size();
                break;
            }
        }
        size_t k = end_;
        while (k > 0 && std::isdigit(static_cast<unsigned char>(s_[k - 1]))) --k;
        size_t signs = k;
        while (signs > 0 && (s_[signs - 1] == '+' || s_[signs - 1] == '-')) --signs;
        if (signs < k && signs > 0) end_ = signs;
    }

    bool IsNumberStart() const {
        return std::isdigit(static_cast<unsigned char>(s_[pos_])) != 0 ||
               (s_[pos_] == '.' && pos_ + 1 < end_ &&
                std::isdigit(static_cast<unsigned char>(s_[pos_ + 1])));
    }

    double Number() {
        size_t start = pos_;
        while (pos_ < end_ &&
               (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.'))
            ++pos_;
        const std::string text = s_.substr(start, pos_ - start);
        try {
            size_t used = 0;
            const double v = std::stod(text, &used);
            if (used == text.size()) return v;
        } catch (...) {
        }
        error_ = "invalid number at position " + std::to_string(start + 1);
        return 0.0;
    }

    /// '*', ':' or the middle dot (UTF-8 C2 B7) between the parts of a hydrate; a '.'
    /// would clash with decimal counts ("Cl2.6H2O").
    bool Separator() {
        if (s_[pos_] == '*' || s_[pos_] == ':') {
            ++pos_;
            return true;
        }
        if (pos_ + 1 < end_ && static_cast<unsigned char>(s_[pos_]) == 0xC2 &&
            static_cast<unsigned char>(s_[pos_ + 1]) == 0xB7) {
            pos_ += 2;
            return true;
        }
        return false;
    }

    /// Element symbols and bracketed groups, each with an optional count.
    bool Groups(std::vector<std::pair<int, double>>& out, int depth) {
        while (pos_ < end_ && error_.empty()) {
            const char c = s_[pos_];
            if (c == '(' || c == '[') {
                const char close = c == '(' ? ')' : ']';
                const size_t open = pos_;
                ++pos_;
                std::vector<std::pair<int, double>> inner;
                if (!Groups(inner, depth + 1)) return false;
                if (pos_ >= end_ || s_[pos_] != close) {
                    error_ = "unbalanced '" + std::string(1, c) + "' at position " +
                             std::to_string(open + 1);
                    return false;
                }
                ++pos_;
                if (inner.empty()) {
                    error_ = "empty group at position " + std::to_string(open + 1);
                    return false;
                }
                double n = 1.0;
                if (pos_ < end_ && IsNumberStart()) n = Number();
                for (const auto& [z, k] : inner) Add(out, z, k * n);
            } else if (c == ')' || c == ']') {
                if (depth == 0) {
                    error_ = "unbalanced '" + std::string(1, c) + "' at position " + Position();
                    return false;
                }
                return true;
            } else if (std::isupper(static_cast<unsigned char>(c))) {
                size_t start = pos_++;
                while (pos_ < end_ && std::islower(static_cast<unsigned char>(s_[pos_]))) ++pos_;
                const std::string symbol = s_.substr(start, pos_ - start);
                const ElementInfo* el = db_.Element(symbol);
                if (el == nullptr) {
                    error_ = "unknown element '" + symbol + "'";
                    return false;
                }
                double n = 1.0;
                if (pos_ < end_ && IsNumberStart()) n = Number();
                Add(out, el->z, n);
            } else {
                return true; // a separator or a stray character: the caller decides
            }
        }
        return error_.empty();
    }

    const Database& db_;
    const std::string& s_;
    size_t pos_ = 0;
    size_t end_ = 0;
    std::string error_;
};

} // namespace

bool ParseFormula(const Database& db, const std::string& formula,
                  std::vector<std::pair<int, double>>& elements, std::string& problem) {
    elements.clear();
    problem.clear();
    FormulaParser parser(db, formula);
    if (!parser.Parse(elements, problem)) {
        elements.clear();
        return false;
    }
    return true;
}

} // namespace lumora
