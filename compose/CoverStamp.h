#pragma once

// The cover as it is drawn on pictures of a given size: scaled to a share of
// the picture when the settings ask for it, made once per size and shared by
// every worker of a run.

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "compose/Compose.h"

namespace vmk {

struct TCoverSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TCoverSize&) const = default;
};

// The size of a coverW x coverH cover drawn on a pictureW x pictureH picture:
// its own size with TCoverSizing::AsIs; otherwise the chosen side becomes
// SizePercent % of the picture's, the other keeps the aspect ratio, each
// rounded to nearest and at least 1.
TCoverSize ScaledCoverSize(const TCoverSettings& settings, int pictureW, int pictureH, int coverW, int coverH);

// cover resampled to width x height: 32-bit with alpha, its transparent colour
// (when on) made fully see-through first. Alpha-weighted, so that see-through
// pixels lend no colour to their neighbours.
std::shared_ptr<TBitmap> ScaleCover(const TBitmap& cover, int width, int height);

class TCoverCache {
public:
    // Takes the prepared cover (sharing its pixels) and the settings it is drawn with.
    TCoverCache(TBitmap& cover, const TCoverSettings& settings);
    TCoverCache(const TCoverCache&) = delete;
    TCoverCache& operator=(const TCoverCache&) = delete;

    const TCoverSettings& Settings() const { return settings_; }
    // The cover for a picture of that size; it never changes afterwards, so
    // threads may draw it at once. Any thread.
    std::shared_ptr<TBitmap> For(int pictureW, int pictureH);
    // Whether the cover this thread last asked For lies wholly outside its
    // picture (so none of it shows); the note is cleared.
    static bool TakeMissedNote();

private:
    // A run of photos from a few cameras meets a few sizes; more are dropped
    // oldest first so that a mixed batch does not keep every one.
    static constexpr size_t kKept = 8;
    std::shared_ptr<TBitmap> original_;
    TCoverSettings settings_;
    std::mutex lock_;
    std::map<std::pair<int, int>, std::pair<uint64_t, std::shared_ptr<TBitmap>>> scaled_;
    uint64_t made_ = 0;
};

// Draws the cover for the working bitmap's size at its place.
void DrawCover(TBitmap& working, TCoverCache& cover);

}  // namespace vmk
