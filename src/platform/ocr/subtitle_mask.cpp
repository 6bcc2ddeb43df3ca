#include "platform/ocr/subtitle_mask.h"

#include <algorithm>
#include <cstdlib>

namespace quillora::ocr {
namespace {

constexpr int kBright = 160;
constexpr int kDark = 80;

std::vector<uint8_t> luminance(const RgbView& crop) {
    std::vector<uint8_t> y(static_cast<size_t>(crop.width) * crop.height);
    for (int row = 0; row < crop.height; ++row) {
        const uint8_t* p = crop.data + static_cast<size_t>(row) * crop.stride;
        uint8_t* out = y.data() + static_cast<size_t>(row) * crop.width;
        for (int x = 0; x < crop.width; ++x, p += 3) {
            out[x] = static_cast<uint8_t>((77 * p[0] + 150 * p[1] + 29 * p[2]) >> 8);
        }
    }
    return y;
}

// Square dilation of a 0/1 image by `r`, done as two running-window passes.
std::vector<uint8_t> dilate(const std::vector<uint8_t>& in, int w, int h, int r) {
    std::vector<uint8_t> rows(in.size(), 0);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = in.data() + static_cast<size_t>(y) * w;
        uint8_t* dst = rows.data() + static_cast<size_t>(y) * w;
        int inWindow = 0;
        for (int x = 0; x < std::min(r, w); ++x)
            inWindow += src[x];
        for (int x = 0; x < w; ++x) {
            if (x + r < w) inWindow += src[x + r];
            if (x - r - 1 >= 0) inWindow -= src[x - r - 1];
            dst[x] = inWindow > 0;
        }
    }
    std::vector<uint8_t> out(in.size(), 0);
    for (int x = 0; x < w; ++x) {
        int inWindow = 0;
        for (int y = 0; y < std::min(r, h); ++y)
            inWindow += rows[static_cast<size_t>(y) * w + x];
        for (int y = 0; y < h; ++y) {
            if (y + r < h) inWindow += rows[static_cast<size_t>(y + r) * w + x];
            if (y - r - 1 >= 0) inWindow -= rows[static_cast<size_t>(y - r - 1) * w + x];
            out[static_cast<size_t>(y) * w + x] = inWindow > 0;
        }
    }
    return out;
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

}  // namespace

TextMask isolateSubtitleText(const RgbView& crop) {
    TextMask mask;
    if (!crop.data || crop.width <= 0 || crop.height <= 0) return mask;
    const int w = crop.width;
    const int h = crop.height;
    mask.width = w;
    mask.height = h;
    const auto y = luminance(crop);
    const size_t n = y.size();

    // Outline reach grows with the picture: thicker strokes and outlines on bigger frames.
    const int reach = std::clamp(h / 48, 2, 6);
    std::vector<uint8_t> dark(n);
    for (size_t i = 0; i < n; ++i)
        dark[i] = y[i] <= kDark;
    const auto nearDark = dilate(dark, w, h, reach);
    mask.on.assign(n, 0);
    for (size_t i = 0; i < n; ++i)
        mask.on[i] = y[i] >= kBright && nearDark[i];
    const int minArea = std::max(3, reach * reach / 2);
    mask.count = removeSpecks(mask.on, w, h, minArea);

    if (mask.count * 1000 < static_cast<int>(n)) {
        // Dark text on a light background has no outline to look for.
        long long total = 0;
        for (uint8_t v : y)
            total += v;
        if (total / static_cast<long long>(n) >= 170) {
            for (size_t i = 0; i < n; ++i)
                mask.on[i] = y[i] <= 100;
            mask.count = removeSpecks(mask.on, w, h, minArea);
        }
    }
    if (mask.count * 2000 < static_cast<int>(n) && mask.count < 20) {
        std::fill(mask.on.begin(), mask.on.end(), 0);
        mask.count = 0;
    }
    return mask;
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

GrayImage renderForRecognition(const TextMask& mask) {
    GrayImage image;
    if (mask.empty()) return image;
    int x0 = mask.width, y0 = mask.height, x1 = -1, y1 = -1;
    for (int y = 0; y < mask.height; ++y) {
        const uint8_t* row = mask.on.data() + static_cast<size_t>(y) * mask.width;
        for (int x = 0; x < mask.width; ++x) {
            if (!row[x]) continue;
            x0 = std::min(x0, x);
            x1 = std::max(x1, x);
            y0 = std::min(y0, y);
            y1 = std::max(y1, y);
        }
    }
    const int margin = std::max(10, (y1 - y0 + 1) / 3);
    image.width = x1 - x0 + 1 + 2 * margin;
    image.height = y1 - y0 + 1 + 2 * margin;
    image.pixels.assign(static_cast<size_t>(image.width) * image.height, 255);
    for (int y = y0; y <= y1; ++y) {
        const uint8_t* row = mask.on.data() + static_cast<size_t>(y) * mask.width;
        uint8_t* out = image.pixels.data() + static_cast<size_t>(y - y0 + margin) * image.width;
        for (int x = x0; x <= x1; ++x) {
            if (row[x]) out[x - x0 + margin] = 0;
        }
    }
    return image;
}

}  // namespace quillora::ocr
