#include "platform/ocr/subtitle_mask.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <utility>

namespace quillora::ocr {
namespace {

constexpr int kBright = 120;           // text strokes are at least this light
constexpr int kOutline = 100;          // what surrounds them is at most this dark
constexpr double kHueDistance = 0.06;  // in r/(r+g+b), g/(r+g+b)
constexpr int kHueBins = 12;
// Lines go to the recogniser this tall, on a margin that makes the image its input height.
constexpr double kLineHeight = 34;
constexpr int kLineMargin = 7;
constexpr int kFaint = 85;  // soft stroke pixels taken in next to a stroke
constexpr int kGrowSteps = 4;
// Same text over a changing picture: share of the key's strokes that may be gone, and of
// new pixels away from them.
constexpr double kMissingStrokes = 0.03;
constexpr double kAddedNoise = 0.3;
// A fade moves the strokes' mean brightness by far more than this between frames; compression
// noise on a steady line by far less.
constexpr int kFadeStep = 4;
constexpr double kFadeAdded = 0.1;
constexpr double kFadeMissing = 0.1;

struct Piece {
    int area = 0;
    int top = 1 << 30;
    int bottom = -1;
    bool touchesEdge = false;
    long long r = 0, g = 0, b = 0;
    int border = 0;      // neighbouring pixels outside the piece
    int darkBorder = 0;  // of those, the dark ones
};

// Work buffers live as long as the thread: fresh ones for every frame cost page faults.
void luminance(const RgbView& crop, std::vector<uint8_t>& y) {
    y.resize(static_cast<size_t>(crop.width) * crop.height);
    for (int row = 0; row < crop.height; ++row) {
        const uint8_t* p = crop.data + static_cast<size_t>(row) * crop.stride;
        uint8_t* out = y.data() + static_cast<size_t>(row) * crop.width;
        for (int x = 0; x < crop.width; ++x, p += 3) {
            out[x] = static_cast<uint8_t>((77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8);
        }
    }
}

// Drops 8-connected pieces too small to be part of a glyph.
int removeSpecks(std::vector<uint8_t>& on, int w, int h, int minArea) {
    std::vector<int> stack;
    std::vector<int> piece;
    std::vector<uint8_t> seen(on.size(), 0);
    int kept = 0;
    for (int start = 0; start < w * h; ++start) {
        if (!on[start] || seen[start]) continue;
        piece.clear();
        stack.push_back(start);
        seen[start] = 1;
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            piece.push_back(at);
            const int x = at % w;
            const int y = at / w;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx;
                    const int ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                    const int next = ny * w + nx;
                    if (on[next] && !seen[next]) {
                        seen[next] = 1;
                        stack.push_back(next);
                    }
                }
            }
        }
        if (static_cast<int>(piece.size()) < minArea) {
            for (int at : piece)
                on[at] = 0;
        } else {
            kept += static_cast<int>(piece.size());
        }
    }
    return kept;
}

// Light pieces, 4-connected, so that a stroke does not leak into the picture diagonally. Each
// piece is measured (extent, colour, how dark its surroundings are) unless it reaches the edge.
void labelLightPieces(const RgbView& crop, const std::vector<uint8_t>& y, std::vector<int>& label,
                      std::vector<Piece>& pieces) {
    const int w = crop.width;
    const int h = crop.height;
    const size_t n = y.size();
    thread_local std::vector<std::pair<int, int>> stack;
    label.assign(n, -1);
    pieces.clear();
    stack.clear();
    const int dx[4] = {-1, 1, 0, 0};
    const int dy[4] = {0, 0, -1, 1};
    for (int start = 0; start < static_cast<int>(n); ++start) {
        if (label[start] >= 0 || y[start] < kBright) continue;
        Piece piece;
        const int id = static_cast<int>(pieces.size());
        label[start] = id;
        stack.emplace_back(start % w, start / w);
        while (!stack.empty()) {
            const auto [px, py] = stack.back();
            stack.pop_back();
            ++piece.area;
            if (px == 0 || py == 0 || px == w - 1 || py == h - 1) piece.touchesEdge = true;
            // A piece reaching the edge is picture, never text: only label the rest of it.
            const bool measure = !piece.touchesEdge;
            if (measure) {
                piece.top = std::min(piece.top, py);
                piece.bottom = std::max(piece.bottom, py);
                const uint8_t* rgb = crop.data + static_cast<size_t>(py) * crop.stride + px * 3;
                piece.r += rgb[0];
                piece.g += rgb[1];
                piece.b += rgb[2];
            }
            // Neighbours left, right, up, down, and the pixel one further in that direction:
            // the stroke's soft edge may lie between the stroke and its outline.
            for (int d = 0; d < 4; ++d) {
                const int nx = px + dx[d];
                const int ny = py + dy[d];
                if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                const int next = ny * w + nx;
                if (y[next] >= kBright) {
                    if (label[next] < 0) {
                        label[next] = id;
                        stack.emplace_back(nx, ny);
                    }
                    continue;
                }
                if (!measure) continue;
                ++piece.border;
                const int fx = nx + dx[d];
                const int fy = ny + dy[d];
                const bool farDark = fx >= 0 && fy >= 0 && fx < w && fy < h &&
                                     y[static_cast<size_t>(fy) * w + fx] <= kOutline;
                if (y[next] <= kOutline || farDark) ++piece.darkBorder;
            }
        }
        pieces.push_back(piece);
    }
}

// Glyph strokes are closed in by their outline; the picture around them is not.
std::vector<uint8_t> outlinedPieces(const std::vector<Piece>& pieces, int h, int minArea) {
    std::vector<uint8_t> candidate(pieces.size(), 0);
    for (size_t k = 0; k < pieces.size(); ++k) {
        const Piece& p = pieces[k];
        candidate[k] = !p.touchesEdge && p.area >= minArea && p.border > 0 &&
                       p.darkBorder * 100 >= p.border * 80 && (p.bottom - p.top) * 10 <= h * 8;
    }
    return candidate;
}

std::pair<double, double> chroma(long long r, long long g, long long b) {
    const double sum = std::max<double>(1.0, static_cast<double>(r + g + b));
    return {r / sum, g / sum};
}

int colourKey(const Piece& p) {
    const auto [cr, cg] = chroma(p.r, p.g, p.b);
    return static_cast<int>(cr * kHueBins) * (kHueBins + 1) + static_cast<int>(cg * kHueBins);
}

// All strokes of a subtitle share one hue (brightness varies along soft thin strokes): the hue
// covering the most candidate area wins, which drops bits of picture caught inside glyph
// counters or between outlines. False when there was no candidate at all.
bool keepDominantHue(const std::vector<Piece>& pieces, std::vector<uint8_t>& candidate) {
    std::map<int, long long> areaByColour;
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (candidate[k]) areaByColour[colourKey(pieces[k])] += pieces[k].area;
    }
    if (areaByColour.empty()) return false;
    const auto best =
        std::max_element(areaByColour.begin(), areaByColour.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    long long r = 0, g = 0, b = 0;
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (!candidate[k] || colourKey(pieces[k]) != best->first) continue;
        r += pieces[k].r;
        g += pieces[k].g;
        b += pieces[k].b;
    }
    const auto [tr, tg] = chroma(r, g, b);
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (!candidate[k]) continue;
        const auto [pr, pg] = chroma(pieces[k].r, pieces[k].g, pieces[k].b);
        const double dr = pr - tr;
        const double dg = pg - tg;
        candidate[k] = dr * dr + dg * dg <= kHueDistance * kHueDistance;
    }
    return true;
}

// Sets the chosen pieces' pixels; returns them and their mean brightness.
std::vector<int> markPieces(TextMask& mask, const std::vector<uint8_t>& y,
                            const std::vector<int>& label, const std::vector<uint8_t>& candidate,
                            double& level) {
    std::vector<int> marked;
    long long textLevel = 0;
    for (size_t i = 0; i < y.size(); ++i) {
        if (label[i] >= 0 && candidate[static_cast<size_t>(label[i])]) {
            mask.on[i] = 1;
            ++mask.count;
            textLevel += y[i];
            marked.push_back(static_cast<int>(i));
        }
    }
    level = mask.count > 0 ? static_cast<double>(textLevel) / mask.count : 255;
    return marked;
}

// Thin strokes of small text are fainter than the threshold: take in fainter pixels touching
// the strokes, a step or two deep, which stays inside the outline.
void growIntoFaintEdges(TextMask& mask, const std::vector<uint8_t>& y,
                        const std::vector<int>& label, std::vector<int> frontier) {
    const int w = mask.width;
    const int h = mask.height;
    for (int step = 0; step < kGrowSteps && !frontier.empty(); ++step) {
        std::vector<int> next;
        for (int at : frontier) {
            const int px = at % w;
            const int py = at / w;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = px + dx;
                    const int ny = py + dy;
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                    const int k = ny * w + nx;
                    if (mask.on[k] || y[k] < kFaint || label[k] >= 0) continue;
                    mask.on[k] = 1;
                    ++mask.count;
                    next.push_back(k);
                }
            }
        }
        frontier = std::move(next);
    }
}

// Ink: how far each pixel is from the outline towards the text's own level.
void inkTowardsLevel(TextMask& mask, const std::vector<uint8_t>& y, double level) {
    mask.ink.assign(y.size(), 0);
    for (size_t i = 0; i < y.size(); ++i) {
        if (!mask.on[i]) continue;
        const double v = (y[i] - kOutline) * 255.0 / std::max(1.0, level - kOutline);
        mask.ink[i] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
    }
}

// Dark text on a light background has no outline to look for: on a light crop, the dark pixels
// in pieces big enough to be glyph parts.
void darkTextOnLight(TextMask& mask, const std::vector<uint8_t>& y, int minArea) {
    long long total = 0;
    for (uint8_t v : y)
        total += v;
    if (total / static_cast<long long>(y.size()) < 170) return;
    mask.level = 0;
    for (size_t i = 0; i < y.size(); ++i)
        mask.on[i] = y[i] <= 100;
    mask.count = removeSpecks(mask.on, mask.width, mask.height, minArea);
    mask.ink.assign(y.size(), 0);
    for (size_t i = 0; i < y.size(); ++i) {
        if (mask.on[i]) mask.ink[i] = static_cast<uint8_t>(255 - y[i]);
    }
}

std::vector<int> inkedPerRow(const TextMask& mask) {
    std::vector<int> rowCount(static_cast<size_t>(mask.height), 0);
    for (int y = 0; y < mask.height; ++y) {
        const uint8_t* row = mask.on.data() + static_cast<size_t>(y) * mask.width;
        for (int x = 0; x < mask.width; ++x)
            rowCount[static_cast<size_t>(y)] += row[x] != 0;
    }
    return rowCount;
}

// The rows of each line of text, top to bottom. A band of inked rows may be one stroke row of a
// line (the gap inside 二 or 三), so bands much thinner than the tallest join their nearest
// neighbour.
std::vector<std::pair<int, int>> lineBands(const TextMask& mask) {
    const std::vector<int> rowCount = inkedPerRow(mask);
    std::vector<std::pair<int, int>> bands;
    for (int y = 0; y < mask.height; ++y) {
        if (rowCount[static_cast<size_t>(y)] == 0) continue;
        if (!bands.empty() && y - bands.back().second <= 2) {
            bands.back().second = y;
        } else {
            bands.emplace_back(y, y);
        }
    }
    int tallest = 0;
    for (const auto& [top, bottom] : bands)
        tallest = std::max(tallest, bottom - top + 1);
    for (size_t k = 0; k < bands.size();) {
        const int height = bands[k].second - bands[k].first + 1;
        if (height * 2 >= tallest || bands.size() == 1) {
            ++k;
            continue;
        }
        const int above = k > 0 ? bands[k].first - bands[k - 1].second : 1 << 30;
        const int below = k + 1 < bands.size() ? bands[k + 1].first - bands[k].second : 1 << 30;
        const size_t into = above <= below ? k - 1 : k + 1;
        // Join only where the result is still about one line tall; otherwise it is a mark
        // of its own (a dash, an underline) and is read with the line it is closest to anyway.
        const int joinedTop = std::min(bands[into].first, bands[k].first);
        const int joinedBottom = std::max(bands[into].second, bands[k].second);
        if ((joinedBottom - joinedTop + 1) * 4 <= tallest * 5) {
            bands[into] = {joinedTop, joinedBottom};
        }
        bands.erase(bands.begin() + static_cast<std::ptrdiff_t>(k));
        if (into < k) k = into;
    }
    return bands;
}

// Ink on a line's rows that lies far to the side of the text and is narrower than most of a
// character (the line height) is picture caught in the mask: bright cells of a busy
// background. So is ink outside every line's rows, which is never read. Left in, the
// recogniser reads it as stray marks, and as the picture moves every frame looks like new text.
void dropStrayInk(TextMask& mask) {
    const int w = mask.width;
    const auto bands = lineBands(mask);
    int tallest = 0;
    for (const auto& [top, bottom] : bands)
        tallest = std::max(tallest, bottom - top + 1);
    struct Run {
        int top, bottom, x0, x1;
    };
    std::vector<Run> runs;
    for (const auto& [top, bottom] : bands) {
        std::vector<int> columns(static_cast<size_t>(w), 0);
        for (int y = top; y <= bottom; ++y) {
            const uint8_t* row = mask.on.data() + static_cast<size_t>(y) * w;
            for (int x = 0; x < w; ++x)
                columns[static_cast<size_t>(x)] += row[x] != 0;
        }
        // Inked columns, joined over gaps up to one line height (the space between words or
        // characters is less).
        const size_t first = runs.size();
        for (int x = 0; x < w; ++x) {
            if (columns[static_cast<size_t>(x)] == 0) continue;
            if (runs.size() > first && x - runs.back().x1 <= tallest) {
                runs.back().x1 = x;
            } else {
                runs.push_back({top, bottom, x, x});
            }
        }
    }
    std::vector<uint8_t> keep(mask.on.size(), 0);
    for (const Run& run : runs) {
        if (runs.size() > 1 && (run.x1 - run.x0 + 1) * 4 < tallest * 3) continue;
        for (int y = run.top; y <= run.bottom; ++y) {
            const size_t at = static_cast<size_t>(y) * w;
            std::copy(mask.on.begin() + static_cast<std::ptrdiff_t>(at + run.x0),
                      mask.on.begin() + static_cast<std::ptrdiff_t>(at + run.x1 + 1),
                      keep.begin() + static_cast<std::ptrdiff_t>(at + run.x0));
        }
    }
    mask.count = 0;
    for (size_t i = 0; i < keep.size(); ++i) {
        mask.on[i] = keep[i];
        mask.count += keep[i];
        if (!keep[i] && !mask.ink.empty()) mask.ink[i] = 0;
    }
}

}  // namespace

TextMask isolateSubtitleText(const RgbView& crop, int textScale) {
    TextMask mask;
    if (!crop.data || crop.width <= 0 || crop.height <= 0) return mask;
    const int h = crop.height;
    const int scale = textScale > 0 ? textScale : h;
    mask.width = crop.width;
    mask.height = h;
    thread_local std::vector<uint8_t> y;
    thread_local std::vector<int> label;
    thread_local std::vector<Piece> pieces;
    luminance(crop, y);
    mask.on.assign(y.size(), 0);

    labelLightPieces(crop, y, label, pieces);
    const int minArea = std::max(4, scale * scale / 2000);
    std::vector<uint8_t> candidate = outlinedPieces(pieces, std::min(h, scale), minArea);
    if (keepDominantHue(pieces, candidate)) {
        double level = 255;
        std::vector<int> marked = markPieces(mask, y, label, candidate, level);
        growIntoFaintEdges(mask, y, label, std::move(marked));
        inkTowardsLevel(mask, y, level);
        mask.level = static_cast<int>(std::lround(level));
    }

    const int minimumInk = std::max(20, scale * scale / 40);
    if (mask.count < minimumInk) darkTextOnLight(mask, y, minArea);
    if (mask.count > 0) dropStrayInk(mask);
    // Less ink than about one glyph filling a third of the subtitle band is no subtitle.
    if (mask.count < minimumInk) {
        std::fill(mask.on.begin(), mask.on.end(), 0);
        mask.count = 0;
    }
    return mask;
}

void keepLinesMeeting(TextMask& mask, int top, int bottom) {
    if (mask.empty()) return;
    const auto bands = lineBands(mask);
    int tallest = 0;
    for (const auto& [first, last] : bands)
        tallest = std::max(tallest, last - first + 1);
    // The lines meeting the rows, and the lines stacked on them (a cue's lines are less than a
    // line apart): a region cutting a cue short still gives the whole cue.
    std::vector<bool> keep(bands.size(), false);
    for (size_t k = 0; k < bands.size(); ++k)
        keep[k] = bands[k].second >= top && bands[k].first < bottom;
    for (bool grew = true; grew;) {
        grew = false;
        for (size_t k = 0; k + 1 < bands.size(); ++k) {
            if (keep[k] == keep[k + 1] || bands[k + 1].first - bands[k].second > tallest) continue;
            keep[k] = keep[k + 1] = true;
            grew = true;
        }
    }
    for (size_t k = 0; k < bands.size(); ++k) {
        if (keep[k]) continue;
        for (int y = bands[k].first; y <= bands[k].second; ++y) {
            const size_t row = static_cast<size_t>(y) * mask.width;
            for (int x = 0; x < mask.width; ++x) {
                mask.count -= mask.on[row + x];
                mask.on[row + x] = 0;
                if (!mask.ink.empty()) mask.ink[row + x] = 0;
            }
        }
    }
}

bool masksMatch(const TextMask& a, const TextMask& b, double tolerance) {
    if (a.width != b.width || a.height != b.height) return false;
    if (a.empty() && b.empty()) return true;
    if (a.empty() || b.empty()) return false;
    int different = 0;
    for (size_t i = 0; i < a.on.size(); ++i)
        different += a.on[i] != b.on[i];
    return different <= tolerance * std::max(a.count, b.count) + 2;
}

namespace {

// Pixels of the key's strokes gone from the probe, and pixels of the probe away from the key's
// strokes (a pixel's neighbour will do: compression moves edges).
std::pair<int, int> missingAndAdded(const TextMask& key, const TextMask& probe) {
    const int w = key.width;
    const int h = key.height;
    auto near = [&](const TextMask& m, int x, int y) {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = x + dx;
                const int ny = y + dy;
                if (nx >= 0 && ny >= 0 && nx < w && ny < h &&
                    m.on[static_cast<size_t>(ny) * w + nx])
                    return true;
            }
        }
        return false;
    };
    int missing = 0;
    int added = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            if (key.on[i] && !probe.on[i] && !near(probe, x, y)) ++missing;
            if (probe.on[i] && !key.on[i] && !near(key, x, y)) ++added;
        }
    }
    return {missing, added};
}

bool comparable(const TextMask& key, const TextMask& probe) {
    return key.width == probe.width && key.height == probe.height && !key.empty() && !probe.empty();
}

}  // namespace

bool masksShowSameText(const TextMask& key, const TextMask& probe) {
    if (masksMatch(key, probe)) return true;
    if (!comparable(key, probe)) return false;
    // The key's strokes must all still be there. Pixels that are new and away from the strokes
    // are picture caught in the mask, which a moving background changes every frame; a new
    // line of text removes strokes, or adds more than such noise does.
    const auto [missing, added] = missingAndAdded(key, probe);
    return missing <= key.count * kMissingStrokes + 2 && added <= key.count * kAddedNoise;
}

bool keyStrokesRemain(const TextMask& key, const TextMask& probe, double missingShare) {
    if (!comparable(key, probe)) return false;
    return missingAndAdded(key, probe).first <= key.count * missingShare + 2;
}

Fade fadeBetween(const TextMask& key, const TextMask& probe) {
    if (!comparable(key, probe) || key.level == 0 || probe.level == 0) return Fade::none;
    if (probe.level >= key.level + kFadeStep) {
        const auto [missing, added] = missingAndAdded(key, probe);
        if (missing <= key.count * kFadeMissing + 2) return Fade::in;
    } else if (probe.level + kFadeStep <= key.level) {
        const auto [missing, added] = missingAndAdded(key, probe);
        if (added <= probe.count * kFadeAdded + 2) return Fade::out;
    }
    return Fade::none;
}

namespace {

// Luma as `luminance` computes it, for one pixel.
int lumaAt(const RgbView& crop, int x, int y) {
    const uint8_t* p =
        crop.data + static_cast<size_t>(y) * crop.stride + static_cast<size_t>(x) * 3;
    return (77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8;
}

int lightOutsideBox(const RgbView& crop, int x0, int y0, int x1, int y1) {
    int light = 0;
    for (int y = 0; y < crop.height; ++y) {
        const bool rowInside = y >= y0 && y <= y1;
        for (int x = 0; x < crop.width; ++x) {
            if (rowInside && x >= x0 && x <= x1) {
                x = x1;
                continue;
            }
            light += lumaAt(crop, x, y) >= kBright;
        }
    }
    return light;
}

// Fewer stroke-core pixels than this judge nothing; more than this share missing is a change
// (a changed character of a long line removes several percent of them; compression noise
// does not reach inside a stroke).
constexpr size_t kMinimumCore = 40;
constexpr double kCoreMissing = 0.01;
constexpr int kCoreDarkening = 60;

}  // namespace

TextStillShown::TextStillShown(const TextMask& key, const RgbView& crop) {
    if (key.empty() || key.level == 0 || crop.width != key.width || crop.height != key.height) {
        return;
    }
    const int w = key.width;
    const int h = key.height;
    int x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int y = 1; y + 1 < h; ++y) {
        for (int x = 1; x + 1 < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            if (!key.on[i]) continue;
            x0 = std::min(x0, x);
            x1 = std::max(x1, x);
            y0 = std::min(y0, y);
            y1 = std::max(y1, y);
            if (key.on[i - 1] && key.on[i + 1] && key.on[i - w] && key.on[i + w] &&
                key.ink[i] == 255) {
                core_.push_back(static_cast<int>(i));
            }
        }
    }
    if (core_.size() < kMinimumCore) {
        core_.clear();
        return;
    }
    width_ = w;
    height_ = h;
    lightest_ = std::max(kBright, key.level - kCoreDarkening);
    long long sum = 0;
    for (int i : core_)
        sum += lumaAt(crop, i % w, i / w);
    coreLevel_ = static_cast<double>(sum) / static_cast<double>(core_.size());
    const int margin = std::max(2, (y1 - y0 + 1) / 4);
    x0_ = std::max(0, x0 - margin);
    y0_ = std::max(0, y0 - margin);
    x1_ = std::min(w - 1, x1 + margin);
    y1_ = std::min(h - 1, y1 + margin);
    lightOutside_ = lightOutsideBox(crop, x0_, y0_, x1_, y1_);
}

bool TextStillShown::holds(const RgbView& crop) const {
    if (core_.empty() || crop.width != width_ || crop.height != height_) return false;
    const size_t allowed = static_cast<size_t>(core_.size() * kCoreMissing) + 1;
    size_t missing = 0;
    long long sum = 0;
    for (int i : core_) {
        const int luma = lumaAt(crop, i % width_, i / width_);
        if (luma < lightest_ && ++missing > allowed) return false;
        sum += luma;
    }
    if (static_cast<double>(sum) / static_cast<double>(core_.size()) >= coreLevel_ + kFadeStep) {
        return false;
    }
    // New light pixels outside the text: perhaps a line added. A handful is noise.
    const int lightOutside = lightOutsideBox(crop, x0_, y0_, x1_, y1_);
    return lightOutside <= lightOutside_ + std::max(20, (x1_ - x0_ + 1) * (y1_ - y0_ + 1) / 50);
}

namespace {

struct Box {
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive
    bool empty() const { return x1 < x0 || y1 < y0; }
};

// The ink inside `box`, scaled by `scale` with area averaging (keeps soft glyph edges), black
// on white with `margin` pixels all round.
GrayImage renderBox(const TextMask& mask, const Box& box, double scale, int margin) {
    GrayImage image;
    const int w = mask.width;
    const int srcW = box.x1 - box.x0 + 1;
    const int srcH = box.y1 - box.y0 + 1;
    std::vector<int> integral(static_cast<size_t>(srcW + 1) * (srcH + 1), 0);
    auto at = [&](int x, int y) -> int& {
        return integral[static_cast<size_t>(y) * (srcW + 1) + x];
    };
    for (int y = 1; y <= srcH; ++y) {
        const uint8_t* row = mask.ink.data() + static_cast<size_t>(box.y0 + y - 1) * w + box.x0;
        int sum = 0;
        for (int x = 1; x <= srcW; ++x) {
            sum += row[x - 1];
            at(x, y) = at(x, y - 1) + sum;
        }
    }
    const int outW = std::max(1, static_cast<int>(std::lround(srcW * scale)));
    const int outH = std::max(1, static_cast<int>(std::lround(srcH * scale)));
    image.width = outW + 2 * margin;
    image.height = outH + 2 * margin;
    image.pixels.assign(static_cast<size_t>(image.width) * image.height, 255);
    for (int oy = 0; oy < outH; ++oy) {
        const int sy0 = std::min(srcH - 1, static_cast<int>(oy / scale));
        const int sy1 = std::clamp(static_cast<int>(std::ceil((oy + 1) / scale)), sy0 + 1, srcH);
        uint8_t* out =
            image.pixels.data() + static_cast<size_t>(oy + margin) * image.width + margin;
        for (int ox = 0; ox < outW; ++ox) {
            const int sx0 = std::min(srcW - 1, static_cast<int>(ox / scale));
            const int sx1 =
                std::clamp(static_cast<int>(std::ceil((ox + 1) / scale)), sx0 + 1, srcW);
            const int inked = at(sx1, sy1) - at(sx0, sy1) - at(sx1, sy0) + at(sx0, sy0);
            const int area = (sx1 - sx0) * (sy1 - sy0);
            out[ox] = static_cast<uint8_t>(255 - inked / area);
        }
    }
    return image;
}

Box inkBox(const TextMask& mask, int top, int bottom) {
    Box box{mask.width, bottom + 1, -1, top - 1};
    for (int y = top; y <= bottom; ++y) {
        const uint8_t* row = mask.on.data() + static_cast<size_t>(y) * mask.width;
        for (int x = 0; x < mask.width; ++x) {
            if (!row[x]) continue;
            box.x0 = std::min(box.x0, x);
            box.x1 = std::max(box.x1, x);
            box.y0 = std::min(box.y0, y);
            box.y1 = std::max(box.y1, y);
        }
    }
    return box;
}

}  // namespace

std::vector<GrayImage> renderLinesForRecognition(const TextMask& mask) {
    std::vector<GrayImage> images;
    if (mask.empty()) return images;
    const std::vector<std::pair<int, int>> bands = lineBands(mask);
    for (const auto& [top, bottom] : bands) {
        const Box box = inkBox(mask, top, bottom);
        if (box.empty()) continue;
        const int height = box.y1 - box.y0 + 1;
        const double scale = std::clamp(kLineHeight / height, 0.25, 3.0);
        images.push_back(renderBox(mask, box, scale, kLineMargin));
    }
    return images;
}

}  // namespace quillora::ocr
