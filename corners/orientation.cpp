#include "corners/orientation.hpp"

#include <cmath>
#include <cstdio>
#include <utility>

namespace georef::corners {

std::array<int, 2> PossibleTurns(bool onItsSide) noexcept {
    return onItsSide ? std::array<int, 2>{90, 270} : std::array<int, 2>{0, 180};
}

SheetShape ShapeOnItsSide(const SheetShape& upright) noexcept {
    // Turned by a quarter (either way), the image's left side shows the
    // sheet's top or bottom and its top side the sheet's left or right;
    // the frame's size along each image axis is what matters here.
    SheetShape seen = upright;
    seen.sideMetres = {upright.sideMetres[1], upright.sideMetres[0], upright.sideMetres[3], upright.sideMetres[2]};
    return seen;
}

geometry::CornerPoints SheetCornersFromImage(const geometry::CornerPoints& imageCorners, int turnDegrees) noexcept {
    // LD, LH, PH, PD run clockwise round the frame; turning the sheet
    // counter-clockwise by a quarter moves each of its corners one place
    // back in that order (its south-west corner to the image's bottom-right).
    const int quarters = ((turnDegrees / 90) % 4 + 4) % 4;
    geometry::CornerPoints sheet{};
    for (int k = 0; k < 4; ++k) {
        const geometry::CornerPoint& c = imageCorners[static_cast<std::size_t>((k - quarters + 4) % 4)];
        sheet[static_cast<std::size_t>(k)] = geometry::CornerPoint{k + 1, c.x, c.y};
    }
    return sheet;
}

std::string TurnDescription(int turnDegrees) {
    switch (((turnDegrees % 360) + 360) % 360) {
        case 90:
            return "turned by 90 degrees counter-clockwise (north at the left)";
        case 180:
            return "turned by 180 degrees (north at the bottom)";
        case 270:
            return "turned by 90 degrees clockwise (north at the right)";
        default:
            return "upright";
    }
}

TurnDecision DecideTurn(const geometry::CornerPoints& imageCorners, bool onItsSide, int sheetNumber,
                        std::optional<double> dpi) {
    const std::array<int, 2> turns = PossibleTurns(onItsSide);
    std::array<TurnDecision, 2> tried;
    for (std::size_t k = 0; k < 2; ++k) {
        tried[k].turnDegrees = turns[k];
        tried[k].sheetCorners = SheetCornersFromImage(imageCorners, turns[k]);
        tried[k].check = CheckCorners(tried[k].sheetCorners, sheetNumber, dpi);
    }
    const auto worst = [&](std::size_t k) -> std::optional<double> {
        try {
            const geometry::CornerFitReport fit = geometry::AnalyseCornerFit(tried[k].sheetCorners, sheetNumber);
            if (fit.Finite()) {
                return fit.WorstMetres();
            }
        } catch (const math::matrix_error&) {
        }
        return std::nullopt;
    };
    // The shape's asymmetry is twice the threshold, so labels of the right
    // turn pass and those of the other fail by far; corners so poor that
    // both pass could be either, and are refused.
    std::size_t chosen = 0;
    if (!tried[0].check.Found() && tried[1].check.Found()) {
        chosen = 1;
    }
    if (tried[0].check.Found() && tried[1].check.Found()) {
        char text[300];
        std::snprintf(text, sizeof text,
                      "cannot tell which way is up: the corners fit the sheet %s (worst corner %.1f m off) and %s "
                      "(%.1f m off)",
                      TurnDescription(turns[0]).c_str(), tried[0].check->WorstMetres(),
                      TurnDescription(turns[1]).c_str(), tried[1].check->WorstMetres());
        tried[0].check = CheckResult::Refused(text);
    }
    TurnDecision decision = std::move(tried[chosen]);
    decision.otherWorstMetres = worst(1 - chosen);
    return decision;
}

}  // namespace georef::corners
