#include "sim/model_parse.h"

#include <algorithm>
#include <climits>

#include "console/spelled.h"
#include "sim/fuel_gauge.h"
#include "sim/pack.h"

namespace kestran::sim {
namespace {

constexpr std::string_view kSettings[] = {
    "gauge", "cells", "capacity", "resistance", "soc", "self-discharge", "chemistry", "ambient", "temperature",
    "heat-capacity", "thermal-resistance", "terminate-voltage", "taper-current", "over-voltage", "under-voltage",
    "over-temperature",
};
constexpr std::string_view kSteps[] = {"charge", "discharge", "rest", "repeat"};

struct FamilyName {
    std::string_view name;
    Family family;
};
constexpr FamilyName kFamilyNames[] = {
    {"bq20z", Family::Bq20z}, {"bq30z55", Family::Bq30z55}, {"bq40z50", Family::Bq40z50}, {"bq9000", Family::Bq9000}};

constexpr double kSecondsPerMonth = 30.0 * 24 * 3600;
constexpr std::int64_t kLongestStepSeconds = 10000LL * 3600;

struct TimeUnit {
    std::string_view name;
    std::int64_t seconds;
};
constexpr TimeUnit kTimeUnits[] = {{"s", 1}, {"min", 60}, {"h", 3600}};

bool is(const Token& token, std::string_view text) { return !token.quoted && token.text == text; }

std::string spelled(const Token& token) { return spelledOut(token.text, kShownWordBytes); }

std::string volts(double value) { return std::to_string(static_cast<long>(value * 1000 + 0.5)) + " mV"; }

std::string percent(double fraction) { return std::to_string(static_cast<long>(fraction * 100 + 0.5)) + "%"; }

// ManufacturerData as a bq9000-family gauge sends it, its cells to come from the model.
constexpr std::size_t kManufacturerDataBytes = 14;

}  // namespace

bool ModelParser::takes(std::string_view keyword)
{
    return keyword == "cell" || keyword == "ocv" || std::find(std::begin(kSettings), std::end(kSettings), keyword) != std::end(kSettings) ||
           std::find(std::begin(kSteps), std::end(kSteps), keyword) != std::end(kSteps);
}

bool ModelParser::fail(std::string text)
{
    reason_ = std::move(text);
    return false;
}

bool ModelParser::once(std::string key)
{
    const auto [it, fresh] = seen_.emplace(key, line_);
    return fresh || fail(key + " is given twice (first on line " + std::to_string(it->second) + ")");
}

bool ModelParser::expectEnd(std::size_t at)
{
    const std::vector<Token>& tokens = *tokens_;
    if (at >= tokens.size())
        return true;
    return fail("unexpected " + shown(tokens[at]) + " after " + std::string(tokens[0].text) + "'s value");
}

// A whole number and its unit, two words: "3000 mAh".
bool ModelParser::quantity(std::size_t at, std::string_view unit, std::int64_t min, std::int64_t max,
                           std::string_view what, std::string_view example, double& value)
{
    const std::vector<Token>& tokens = *tokens_;
    if (at + 1 >= tokens.size() || !is(tokens[at + 1], unit))
        return fail(std::string(what) + " needs a value in " + std::string(unit) + ", as in: " + std::string(example));
    std::int64_t number = 0;
    if (!parseNumber(tokens[at], INT_MIN, INT_MAX, number, what, "", reason_))
        return false;
    if (number < min || number > max)
        return fail(std::string(what) + " " + spelled(tokens[at]) + " " + std::string(unit) + " is out of range (" +
                    std::to_string(min) + " to " + std::to_string(max) + " " + std::string(unit) + ")");
    value = static_cast<double>(number);
    return true;
}

// A whole percentage, one word: "70%". The value is a fraction.
bool ModelParser::percentage(std::size_t at, std::int64_t min, std::int64_t max, std::string_view what,
                             std::string_view example, double& value)
{
    const std::vector<Token>& tokens = *tokens_;
    if (at >= tokens.size() || tokens[at].quoted || !tokens[at].text.ends_with('%'))
        return fail(std::string(what) + " needs a percentage, as in: " + std::string(example));
    const Token number{tokens[at].text.substr(0, tokens[at].text.size() - 1), false, tokens[at].start};
    std::int64_t parsed = 0;
    if (!parseNumber(number, INT_MIN, INT_MAX, parsed, what, "", reason_))
        return false;
    if (parsed < min || parsed > max)
        return fail(std::string(what) + " " + spelled(tokens[at]) + " is out of range (" + std::to_string(min) +
                    "% to " + std::to_string(max) + "%)");
    value = static_cast<double>(parsed) / 100;
    return true;
}

// "2 h", "30 min", "90 s".
bool ModelParser::duration(std::size_t at, std::string_view what, std::int64_t& seconds)
{
    const std::vector<Token>& tokens = *tokens_;
    const std::string usage = std::string(what) + " needs how long, in s, min or h, as in: " + std::string(what) + " 2 h";
    if (at + 1 >= tokens.size())
        return fail(usage);
    const auto unit = std::find_if(std::begin(kTimeUnits), std::end(kTimeUnits),
                                   [&](const TimeUnit& u) { return is(tokens[at + 1], u.name); });
    if (unit == std::end(kTimeUnits))
        return fail(usage);
    std::int64_t number = 0;
    if (!parseNumber(tokens[at], INT_MIN, INT_MAX, number, what, "", reason_))
        return false;
    if (number < 1 || number > kLongestStepSeconds / unit->seconds)
        return fail(std::string(what) + " " + spelled(tokens[at]) + " " + std::string(unit->name) +
                    " is out of range (1 s to 10000 h)");
    seconds = number * unit->seconds;
    return true;
}

bool ModelParser::setting(std::string_view keyword)
{
    const std::vector<Token>& tokens = *tokens_;
    if (!once(std::string(keyword)))
        return false;
    double value = 0;
    if (keyword == "gauge") {
        const auto found = std::find_if(std::begin(kFamilyNames), std::end(kFamilyNames),
                                        [&](const FamilyName& f) { return tokens.size() == 2 && is(tokens[1], f.name); });
        if (found == std::end(kFamilyNames))
            return fail("gauge takes the family whose rules the pack follows: bq20z, bq30z55, bq40z50 or bq9000");
        spec_.family = found->family;
        return true;
    }
    if (keyword == "cells") {
        std::int64_t cells = 0;
        if (tokens.size() != 2)
            return fail("cells takes the number of cells in series, as in: cells 4");
        if (!parseNumber(tokens[1], INT_MIN, INT_MAX, cells, "cells", "", reason_))
            return false;
        if (cells < 1 || cells > kMaxCells)
            return fail("cells " + spelled(tokens[1]) + " is out of range (1 to 4 in series; fold parallel strings into the capacity)");
        spec_.cells = static_cast<int>(cells);
        return true;
    }
    if (keyword == "chemistry") {
        const Chemistry* chemistry = tokens.size() == 2 && !tokens[1].quoted ? findChemistry(tokens[1].text) : nullptr;
        if (!chemistry)
            return fail("chemistry takes one whose open-circuit voltages are known: NMC (or give an ocv table)");
        spec_.ocv = chemistry->ocv;
        return true;
    }
    if (keyword == "soc") {
        if (!percentage(1, 0, 100, "soc", "soc 80%", soc_))
            return false;
        return expectEnd(2);
    }
    if (keyword == "self-discharge") {
        if (!percentage(1, 0, 100, "self-discharge", "self-discharge 3% per month", selfDischarge_))
            return false;
        if (tokens.size() < 4 || !is(tokens[2], "per") || !is(tokens[3], "month"))
            return fail("self-discharge needs a percentage per month, as in: self-discharge 3% per month");
        return expectEnd(4);
    }
    struct Quantity {
        std::string_view keyword, unit;
        std::int64_t min, max;
        std::string_view example;
        double scale;
        double* into;
    };
    const Quantity quantities[] = {
        {"capacity", "mAh", 1, 30000, "capacity 3000 mAh", 1e-3, &capacityAh_},
        {"resistance", "mOhm", 1, 2000, "resistance 50 mOhm", 1e-3, &resistanceOhm_},
        {"ambient", "C", -40, 85, "ambient 25 C", 1, &spec_.ambientC},
        {"temperature", "C", -40, 85, "temperature 25 C", 1, &spec_.startC},
        {"heat-capacity", "J/K", 1, 10000, "heat-capacity 47 J/K", 1, &spec_.heatCapacityPerCellJk},
        {"thermal-resistance", "K/W", 1, 1000, "thermal-resistance 10 K/W", 1, &spec_.thermalResistanceKw},
        {"terminate-voltage", "mV", 1000, 5000, "terminate-voltage 3000 mV", 1e-3, &spec_.terminateVoltsPerCell},
        {"taper-current", "mA", 1, 10000, "taper-current 100 mA", 1e-3, &spec_.taperAmps},
        {"over-voltage", "mV", 1000, 5000, "over-voltage 4300 mV", 1e-3, &spec_.overVolts},
        {"under-voltage", "mV", 1000, 5000, "under-voltage 2500 mV", 1e-3, &spec_.underVolts},
        {"over-temperature", "C", 0, 150, "over-temperature 60 C", 1, &spec_.overTemperatureC},
    };
    for (const Quantity& q : quantities) {
        if (q.keyword != keyword)
            continue;
        if (!quantity(1, q.unit, q.min, q.max, q.keyword, q.example, value))
            return false;
        *q.into = value * q.scale;
        return expectEnd(3);
    }
    return fail("unknown model line " + shown(tokens[0]));
}

// "cell 2 capacity 70%": one cell unlike the others.
bool ModelParser::cellLine()
{
    const std::vector<Token>& tokens = *tokens_;
    const std::string usage = "cell needs its number, what it changes and the value, as in: cell 2 capacity 70%";
    if (tokens.size() < 4)
        return fail(usage);
    std::int64_t number = 0;
    if (!parseNumber(tokens[1], INT_MIN, INT_MAX, number, "cell", "", reason_))
        return false;
    if (number < 1 || number > kMaxCells)
        return fail("cell " + spelled(tokens[1]) + " is out of range (1 to 4)");
    CellOverrides& cell = cells_[static_cast<std::size_t>(number - 1)];
    const std::string_view what = tokens[2].quoted ? std::string_view{} : tokens[2].text;
    if (what != "capacity" && what != "resistance" && what != "soc" && what != "self-discharge")
        return fail("cell " + std::to_string(number) + " changes its capacity, resistance, soc or self-discharge, as in: " +
                    "cell 2 capacity 70%");
    if (!once("cell " + std::to_string(number) + " " + std::string(what)))
        return false;
    CellValue value{.line = line_};
    const bool inPercent = !tokens[3].quoted && tokens[3].text.ends_with('%');
    bool ok = false;
    std::size_t end = inPercent ? 4 : 5;
    if (what == "capacity") {
        value.percent = inPercent;
        ok = inPercent ? percentage(3, 1, 1000, "capacity", "cell 2 capacity 70%", value.value)
                       : quantity(3, "mAh", 1, 30000, "capacity", "cell 2 capacity 2100 mAh", value.value);
        cell.capacity = value;
    } else if (what == "resistance") {
        value.percent = inPercent;
        ok = inPercent ? percentage(3, 1, 10000, "resistance", "cell 2 resistance 200%", value.value)
                       : quantity(3, "mOhm", 1, 2000, "resistance", "cell 2 resistance 100 mOhm", value.value);
        cell.resistance = value;
    } else if (what == "soc") {
        ok = percentage(3, 0, 100, "soc", "cell 2 soc 75%", value.value);
        end = 4;
        cell.soc = value;
    } else {
        ok = percentage(3, 0, 100, "self-discharge", "cell 2 self-discharge 5% per month", value.value);
        if (ok && (tokens.size() < 6 || !is(tokens[4], "per") || !is(tokens[5], "month")))
            ok = fail("self-discharge needs a percentage per month, as in: cell 2 self-discharge 5% per month");
        end = 6;
        cell.selfDischarge = value;
    }
    return ok && expectEnd(end);
}

// "ocv 50% 3740 mV": one point of the pack's own open-circuit voltage table,
// the points from 0% up, the voltage rising.
bool ModelParser::ocvLine()
{
    double soc = 0, millivolts = 0;
    if (!percentage(1, 0, 100, "ocv", "ocv 50% 3740 mV", soc) ||
        !quantity(2, "mV", 1000, 5000, "ocv", "ocv 50% 3740 mV", millivolts) || !expectEnd(4))
        return false;
    if (!customOcv_) {
        customOcv_ = true;
        spec_.ocv = OcvTable{};
    }
    OcvTable& table = spec_.ocv;
    if (table.count == kMaxOcvPoints)
        return fail("an ocv table has at most " + std::to_string(kMaxOcvPoints) + " points");
    const OcvPoint point{soc, millivolts / 1000};
    if (table.count > 0) {
        const OcvPoint& before = table.points[table.count - 1];
        if (point.soc <= before.soc)
            return fail("ocv " + percent(point.soc) + " comes after " + percent(before.soc) +
                        ": the points go from 0% up to 100%");
        if (point.volts <= before.volts)
            return fail("ocv " + percent(point.soc) + " " + volts(point.volts) + " is not above the point before it (" +
                        percent(before.soc) + " " + volts(before.volts) +
                        "): the open-circuit voltage rises with the state of charge");
    }
    table.points[table.count++] = point;
    ocvLines_.push_back(line_);
    return true;
}

bool ModelParser::endConditions(std::size_t at, ProfileStep& step, std::string_view usage)
{
    const std::vector<Token>& tokens = *tokens_;
    bool any = step.taperAmps > 0;
    for (bool first = true; at < tokens.size(); first = false) {
        if (!first && is(tokens[at], "or"))
            ++at;
        if (at < tokens.size() && is(tokens[at], "until") && step.untilVoltsPerCell == 0 && step.taperAmps == 0) {
            double millivolts = 0;
            if (!quantity(at + 1, "mV", 1000, 5000, "until", "until 3000 mV per cell", millivolts))
                return false;
            if (at + 4 >= tokens.size() || !is(tokens[at + 3], "per") || !is(tokens[at + 4], "cell"))
                return fail("until gives a voltage per cell, as in: until 3000 mV per cell");
            step.untilVoltsPerCell = millivolts / 1000;
            at += 5;
        } else if (at < tokens.size() && is(tokens[at], "for") && step.seconds == 0) {
            if (!duration(at + 1, "for", step.seconds))
                return false;
            at += 3;
        } else {
            return fail(at < tokens.size() ? "unexpected " + shown(tokens[at]) + ": " + std::string(usage)
                                           : std::string(usage));
        }
        any = true;
    }
    return any || fail(std::string(usage));
}

bool ModelParser::stepLine(std::string_view keyword)
{
    const std::vector<Token>& tokens = *tokens_;
    if (repeatLine_)
        return fail("nothing follows repeat (line " + std::to_string(repeatLine_) +
                    "), which goes back to the first step");
    if (keyword == "repeat") {
        if (tokens.size() != 1)
            return fail("repeat stands alone: it goes back to the first step");
        if (spec_.steps.empty())
            return fail("repeat needs the steps it repeats before it");
        repeatLine_ = line_;
        spec_.repeats = true;
        return true;
    }
    ProfileStep step{.line = line_};
    if (keyword == "rest") {
        step.kind = StepKind::Rest;
        if (!duration(1, "rest", step.seconds) || !expectEnd(3))
            return false;
        spec_.steps.push_back(step);
        return true;
    }
    double value = 0;
    if (keyword == "charge") {
        step.kind = StepKind::Charge;
        if (tokens.size() > 1 && is(tokens[1], "CC")) {
            const char* usage = "charge CC needs its current, its voltage per cell and the current it ends at, as in: "
                                "charge CC 1500 mA to 4200 mV per cell then CV until 100 mA";
            double cv = 0, taper = 0;
            if (!quantity(2, "mA", 1, 100000, "charge CC", "charge CC 1500 mA to 4200 mV per cell then CV until 100 mA",
                          value))
                return false;
            if (tokens.size() < 14 || !is(tokens[4], "to") || !is(tokens[7], "per") || !is(tokens[8], "cell") ||
                !is(tokens[9], "then") || !is(tokens[10], "CV") || !is(tokens[11], "until"))
                return fail(usage);
            if (!quantity(5, "mV", 1000, 5000, "charge CC", "charge CC 1500 mA to 4200 mV per cell then CV until 100 mA", cv) ||
                !quantity(12, "mA", 1, 100000, "CV until", "then CV until 100 mA", taper))
                return false;
            if (taper >= value)
                return fail("the CV phase ends at " + std::to_string(static_cast<long>(taper)) +
                            " mA, not below the constant current of " + std::to_string(static_cast<long>(value)) + " mA");
            step.amps = value / 1000;
            step.cvVoltsPerCell = cv / 1000;
            step.taperAmps = taper / 1000;
            if (!endConditions(14, step, usage))
                return false;
        } else {
            const char* usage = "charge needs its current and an end, as in: charge 1500 mA until 4100 mV per cell, "
                                "or a CC/CV charge: charge CC 1500 mA to 4200 mV per cell then CV until 100 mA";
            if (!quantity(1, "mA", 1, 100000, "charge", "charge 1500 mA until 4100 mV per cell", value))
                return false;
            step.amps = value / 1000;
            if (!endConditions(3, step, usage))
                return false;
        }
    } else {
        step.kind = StepKind::Discharge;
        const char* usage = "discharge needs its current or power and an end: until a voltage per cell, for a time, "
                            "or both, as in: discharge 1500 mA until 3000 mV per cell";
        const bool watts = tokens.size() > 2 && is(tokens[2], "W");
        if (watts) {
            if (!quantity(1, "W", 1, 1000, "discharge", "discharge 20 W until 3000 mV per cell", value))
                return false;
            step.watts = value;
        } else {
            if (!quantity(1, "mA", 1, 100000, "discharge", "discharge 1500 mA until 3000 mV per cell", value))
                return false;
            step.amps = value / 1000;
        }
        if (!endConditions(3, step, usage))
            return false;
    }
    spec_.steps.push_back(step);
    return true;
}

bool ModelParser::parse(const std::vector<Token>& tokens, int line, std::string& reason)
{
    tokens_ = &tokens;
    line_ = line;
    const std::string_view keyword = tokens.front().text;
    if (firstLine_ == 0) {
        firstLine_ = line;
        firstKeyword_ = keyword;
    }
    bool ok = false;
    if (std::find(std::begin(kSteps), std::end(kSteps), keyword) != std::end(kSteps))
        ok = stepLine(keyword);
    else if (keyword == "cell")
        ok = cellLine();
    else if (keyword == "ocv")
        ok = ocvLine();
    else
        ok = setting(keyword);
    if (!ok)
        reason = reason_;
    return ok;
}

bool ModelParser::finish(Pack& pack, int& line, std::string& reason)
{
    if (firstLine_ == 0)
        return true;
    const auto fault = [&](int at, std::string text) {
        line = at;
        reason = std::move(text);
        return false;
    };
    const auto given = [this](const char* key) {
        const auto it = seen_.find(key);
        return it == seen_.end() ? 0 : it->second;
    };
    const int cellsLine = given("cells");
    if (!cellsLine)
        return fault(firstLine_, firstKeyword_ + " belongs to a dynamic pack, which also gives its cells (cells 1 to 4 "
                                                 "in series), its gauge and its capacity");
    if (!given("gauge"))
        return fault(cellsLine, "a dynamic pack names the gauge whose rules it follows: gauge bq20z, bq30z55, "
                                "bq40z50 or bq9000");
    if (!given("capacity"))
        return fault(cellsLine, "a dynamic pack gives its cells' capacity, as in: capacity 3000 mAh");
    for (int cell = spec_.cells; cell < kMaxCells; ++cell) {
        const CellOverrides& o = cells_[static_cast<std::size_t>(cell)];
        for (const auto& value : {o.capacity, o.resistance, o.soc, o.selfDischarge})
            if (value)
                return fault(value->line, "cell " + std::to_string(cell + 1) + " is past the pack's " +
                                              std::to_string(spec_.cells) + " cells");
    }
    if (customOcv_) {
        if (const int chemistryLine = given("chemistry"))
            return fault(std::max(chemistryLine, ocvLines_.front()),
                         "a pack gives a chemistry or an ocv table of its own, not both");
        if (spec_.ocv.points[0].soc != 0)
            return fault(ocvLines_.front(), "the ocv table starts at 0%");
        if (spec_.ocv.points[spec_.ocv.count - 1].soc != 1)
            return fault(ocvLines_.back(), "the ocv table ends at 100%");
    }
    if (spec_.underVolts >= spec_.overVolts)
        return fault(given("under-voltage") ? given("under-voltage") : given("over-voltage"),
                     "the under-voltage protection (" + volts(spec_.underVolts) + ") is not below the over-voltage one (" +
                         volts(spec_.overVolts) + ")");
    if (!given("temperature"))
        spec_.startC = spec_.ambientC;

    for (const auto& [reg, answer] : pack.answers)
        if (reg.via == Via::Word && !answer.fails && answersFromModel(spec_.family, reg.code) && !seedsModel(reg.code))
            return fault(answer.line, describe(reg) + " comes from the model in a dynamic pack: leave its line out "
                                                      "(a fail line may still make it fail)");

    for (int cell = 0; cell < spec_.cells; ++cell) {
        const CellOverrides& o = cells_[static_cast<std::size_t>(cell)];
        CellSpec& c = spec_.cell[static_cast<std::size_t>(cell)];
        c.capacityAh = o.capacity ? (o.capacity->percent ? capacityAh_ * o.capacity->value : o.capacity->value / 1000)
                                  : capacityAh_;
        c.resistanceOhm = o.resistance ? (o.resistance->percent ? resistanceOhm_ * o.resistance->value
                                                                : o.resistance->value / 1000)
                                       : resistanceOhm_;
        c.soc = o.soc ? o.soc->value : soc_;
        c.selfDischargePerSecond = (o.selfDischarge ? o.selfDischarge->value : selfDischarge_) / kSecondsPerMonth;
    }
    // A bq9000-family gauge always answers ManufacturerData: its cells are there.
    if (spec_.family == Family::Bq9000 && !pack.find(Via::Block, 0x23)) {
        Answer data;
        data.data.assign(kManufacturerDataBytes, 0);
        data.line = cellsLine;
        pack.answers.emplace(Register{Via::Block, 0x23}, std::move(data));
    }
    pack.model = spec_;
    return true;
}

}  // namespace kestran::sim
