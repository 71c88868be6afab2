#include "review/seam_marks.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace georef::review::detail {

namespace {

std::string Metres(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f m", value);
    return text;
}

}  // namespace

const SeamFigures* FiguresOf(const std::vector<SeamFigures>& seams, const SharedEdge& edge) noexcept {
    for (const SeamFigures& s : seams) {
        if (s.first == edge.first && s.second == edge.second) {
            return &s;
        }
    }
    return nullptr;
}

int SeamRank(const SeamFigures* figures) noexcept {
    if (figures == nullptr || figures->status == "unmeasured") {
        return 2;
    }
    return figures->status == "suspect" ? 0 : 1;
}

std::string SeamDescription(const SeamFigures* figures) {
    if (figures == nullptr) {
        return "not measured";
    }
    std::string text = figures->status;
    if (figures->alongMetres) {
        text += ": " + Metres(*figures->alongMetres) + " along";
        if (figures->acrossMetres) {
            text += ", " + Metres(*figures->acrossMetres) + " across";
        }
        text += ", " + std::to_string(figures->features) + " lines";
    } else if (figures->status == "suspect") {
        text += ": the lines crossing it do not continue";
    } else if (figures->status == "unmeasured") {
        text += ": too few lines cross it";
    }
    return text;
}

void WriteSeamLines(std::ostream& svg, const std::vector<SharedEdge>& edges, const std::vector<SeamFigures>& seams,
                    double thresholdMetres, double west, double north) {
    for (const SharedEdge& edge : edges) {
        const SeamFigures* figures = FiguresOf(seams, edge);
        if (figures == nullptr) {
            continue;
        }
        std::string colour = "#777";
        const int rank = SeamRank(figures);
        if (rank == 0) {
            colour = "#d01c2a";
        } else if (rank == 1 && figures->alongMetres) {
            const double offset = std::hypot(*figures->alongMetres, figures->acrossMetres.value_or(0.0));
            const double f = std::clamp(offset / thresholdMetres, 0.0, 1.0);
            char rgb[32];
            std::snprintf(rgb, sizeof(rgb), "rgb(%d,%d,%d)", static_cast<int>(std::lround(30.0 + 200.0 * f)),
                          static_cast<int>(std::lround(150.0 - 10.0 * f)), static_cast<int>(std::lround(60.0 - 60.0 * f)));
            colour = rgb;
        }
        svg << "<a href=\"#seam-" << edge.first << "-" << edge.second << "\"><line class=\"seam seam-"
            << figures->status << "\" x1=\"" << std::lround(-edge.from.Y - west) << "\" y1=\""
            << std::lround(north + edge.from.X) << "\" x2=\"" << std::lround(-edge.to.Y - west) << "\" y2=\""
            << std::lround(north + edge.to.X) << "\" stroke=\"" << colour << "\"><title>" << edge.first << " | "
            << edge.second << ": " << SeamDescription(figures) << "</title></line></a>\n";
    }
}

}  // namespace georef::review::detail
