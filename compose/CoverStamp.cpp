#include "compose/CoverStamp.h"

#include <stb_image_resize.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace vmk {

namespace {

// a x b / c rounded to nearest, for positive operands that fit 2^62.
int64_t MulDivRound(int64_t a, int64_t b, int64_t c) { return (2 * a * b + c) / (2 * c); }

int AtLeastOne(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 1, kMaxPixels)); }

}  // namespace

TCoverSize ScaledCoverSize(const TCoverSettings& settings, int pictureW, int pictureH, int coverW, int coverH) {
    if (settings.Sizing == TCoverSizing::AsIs || coverW <= 0 || coverH <= 0 || pictureW <= 0 || pictureH <= 0)
        return {coverW, coverH};
    const int64_t percent = std::clamp(settings.SizePercent, 1, 100);
    // The side that follows the picture: it and the cover's side of that name.
    int64_t target = 0;
    int64_t own = coverW;
    switch (settings.Sizing) {
    case TCoverSizing::Width: target = pictureW; break;
    case TCoverSizing::Height:
        target = pictureH;
        own = coverH;
        break;
    case TCoverSizing::Shorter: target = std::min(pictureW, pictureH); break;
    case TCoverSizing::AsIs: break;
    }
    // The exact scale is percent x target / (100 x own); both sides take it.
    const int64_t num = percent * target, den = 100 * own;
    return {AtLeastOne(MulDivRound(coverW, num, den)), AtLeastOne(MulDivRound(coverH, num, den))};
}

std::shared_ptr<TBitmap> ScaleCover(const TBitmap& cover, int width, int height) {
    const int w = cover.Width(), h = cover.Height();
    auto out = std::make_shared<TBitmap>();
    out->SetPixelFormat(TPixelFormat::pf32bit);
    out->SetSize(width, height);  // refuses a size past the picture bound
    out->SetAlphaChannel(true);
    if (w <= 0 || h <= 0 || width <= 0 || height <= 0) return out;

    // Blue, green, red, alpha: what the cover shows, the key colour see-through.
    const bool keyed = cover.GetTransparent();
    const TColor key = cover.GetTransparentColor();
    const bool alpha = cover.GetAlphaChannel();
    std::vector<uint8_t> in(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    std::vector<TColor> row(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        cover.GetRowColors(y, 0, w, row.data());
        const uint8_t* own = cover.GetScanline(y);
        uint8_t* p = in.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 4;
        for (size_t x = 0; x < row.size(); ++x, p += 4) {
            p[0] = GetBValue(row[x]);
            p[1] = GetGValue(row[x]);
            p[2] = GetRValue(row[x]);
            p[3] = keyed && row[x] == key ? 0 : alpha ? own[x * 4 + 3] : 255;
        }
    }
    // Alpha-weighted (no STBIR_FLAG_ALPHA_PREMULTIPLIED): stb premultiplies in
    // floating point, resamples and divides again, so no precision is lost to
    // an 8-bit premultiplied copy. Values are taken as they are (sRGB bytes,
    // as the blend uses them). The default filters are Mitchell on reduction,
    // which does not alias, and Catmull-Rom on enlargement, which stays sharp.
    uint8_t* target = out->GetScanline(0);
    if (!stbir_resize_uint8_generic(in.data(), w, h, w * 4, target, width, height, width * 4, 4, 3, 0, STBIR_EDGE_CLAMP,
                                    STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_LINEAR, nullptr))
        throw EOutOfMemory("Out of memory while scaling the cover");
    return out;
}

TCoverCache::TCoverCache(TBitmap& cover, const TCoverSettings& settings)
    : original_(std::make_shared<TBitmap>()), settings_(settings) {
    original_->Assign(cover);
}

namespace {
thread_local bool coverMissed = false;
}  // namespace

bool TCoverCache::TakeMissedNote() { return std::exchange(coverMissed, false); }

std::shared_ptr<TBitmap> TCoverCache::For(int pictureW, int pictureH) {
    const TCoverSize size = ScaledCoverSize(settings_, pictureW, pictureH, original_->Width(), original_->Height());
    // Asked for once per picture, at the size it is drawn: note whether any of it lands.
    const TCoverPosition at = CoverPlacement(settings_, pictureW, pictureH, size.Width, size.Height);
    coverMissed = int64_t{at.X} >= pictureW || int64_t{at.X} + size.Width <= 0 || int64_t{at.Y} >= pictureH ||
                  int64_t{at.Y} + size.Height <= 0;
    if (size.Width == original_->Width() && size.Height == original_->Height()) return original_;
    const std::lock_guard<std::mutex> hold(lock_);
    const auto key = std::make_pair(size.Width, size.Height);
    if (auto found = scaled_.find(key); found != scaled_.end()) return found->second.second;
    // Made under the lock: workers meeting the same new size wait for the one
    // copy rather than each making their own.
    auto made = ScaleCover(*original_, size.Width, size.Height);
    if (scaled_.size() >= kKept)
        scaled_.erase(std::min_element(scaled_.begin(), scaled_.end(),
                                       [](const auto& a, const auto& b) { return a.second.first < b.second.first; }));
    scaled_.emplace(key, std::make_pair(++made_, made));
    return made;
}

void DrawCover(TBitmap& working, TCoverCache& cover) {
    const std::shared_ptr<TBitmap> stamp = cover.For(working.Width(), working.Height());
    const TCoverPosition at =
        CoverPlacement(cover.Settings(), working.Width(), working.Height(), stamp->Width(), stamp->Height());
    working.GetCanvas().DrawBlended(at.X, at.Y, *stamp, cover.Settings().Opacity);
}

}  // namespace vmk
