// The lines of a pack file that make it a dynamic pack: the model of its
// cells, its gauge's settings and its load profile. parsePack hands them here.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/model.h"
#include "sim/pack_syntax.h"

namespace kestran::sim {

struct Pack;

class ModelParser {
public:
    // True when a line starting with `keyword` is one of these.
    static bool takes(std::string_view keyword);

    // One line; false with a reason.
    bool parse(const std::vector<Token>& tokens, int line, std::string& reason);

    // After the last line, with the pack's register lines known: gives the
    // pack its model, or none when no line was a model line. False with the
    // line at fault (0 when none is) and a reason.
    bool finish(Pack& pack, int& line, std::string& reason);

private:
    // A cell's own value, absolute or as a percentage of the pack's.
    struct CellValue {
        double value = 0;
        bool percent = false;
        int line = 0;
    };
    struct CellOverrides {
        std::optional<CellValue> capacity, resistance, soc, selfDischarge;
    };

    bool fail(std::string text);
    bool once(std::string key);
    bool expectEnd(std::size_t at);
    bool quantity(std::size_t at, std::string_view unit, std::int64_t min, std::int64_t max, std::string_view what,
                  std::string_view example, double& value);
    bool percentage(std::size_t at, std::int64_t min, std::int64_t max, std::string_view what,
                    std::string_view example, double& value);
    bool duration(std::size_t at, std::string_view what, std::int64_t& seconds);
    bool setting(std::string_view keyword);
    bool cellLine();
    bool ocvLine();
    bool stepLine(std::string_view keyword);
    bool endConditions(std::size_t at, ProfileStep& step, std::string_view usage);

    const std::vector<Token>* tokens_ = nullptr;
    int line_ = 0;
    std::string reason_;

    ModelSpec spec_;
    std::map<std::string, int> seen_;  // the keys given once, with their lines
    int firstLine_ = 0;
    std::string firstKeyword_;
    double capacityAh_ = 0, resistanceOhm_ = 0.05, soc_ = 1, selfDischarge_ = 0;
    std::array<CellOverrides, kMaxCells> cells_{};
    std::vector<int> ocvLines_;
    bool customOcv_ = false;
    int repeatLine_ = 0;
};

}  // namespace kestran::sim
