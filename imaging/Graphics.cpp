#include "imaging/Graphics.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "core/FileUtils.h"
#include "imaging/BmpCodec.h"
#include "imaging/Raster.h"

namespace vmk {

using detail::Raster;

namespace {

// Only palette targets need the colour-to-index search.
std::optional<detail::PaletteMatcher> MatcherFor(const Raster& target) {
    if (!detail::IsPaletteFormat(target.format)) return std::nullopt;
    return std::optional<detail::PaletteMatcher>(std::in_place, target.palette);
}

}  // namespace

// ---- TGraphic

void TGraphic::Assign(TGraphic& source) { source.AssignTo(*this); }

void TGraphic::AssignTo(TGraphic& destination) {
    throw EConvertError(std::string("Cannot assign a ") + ClassName() + " to a " + destination.ClassName());
}

bool TGraphic::Equals(TGraphic& other) {
    if (&other == this) return true;
    if (std::strcmp(ClassName(), other.ClassName()) != 0) return false;
    if (GetEmpty() || other.GetEmpty()) return GetEmpty() == other.GetEmpty();
    TMemoryStream mine, theirs;
    SaveToStream(mine);
    other.SaveToStream(theirs);
    return mine.Bytes() == theirs.Bytes();
}

void TGraphic::SetTransparent(bool value) {
    if (value == transparent_) return;
    transparent_ = value;
    Changed();
}

void TGraphic::LoadFromFile(const std::string& path) {
    TFileStream stream(path, TFileMode::OpenRead);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& path) {
    TSafeFileStream stream(path);
    SaveToStream(stream);
    stream.Commit();
}

void TGraphic::ReadData(TStream&) {}
void TGraphic::WriteData(TStream&) {}

void TGraphic::Changed() {
    if (OnChange) OnChange(*this);
}

void TGraphic::Progress(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect,
                        const std::string& msg) {
    if (OnProgress) OnProgress(*this, stage, percent, redrawNow, rect, msg);
}

// ---- TBitmap

struct TBitmap::Image : Raster {};

TBitmap::TBitmap() : image_(std::make_shared<Image>()) {}
TBitmap::~TBitmap() = default;

std::unique_ptr<TGraphic> TBitmap::NewInstance() const { return std::make_unique<TBitmap>(); }

void TBitmap::Assign(TGraphic& source) {
    if (auto* other = dynamic_cast<TBitmap*>(&source)) {
        if (other == this) return;
        image_ = other->image_;
        transparentMode_ = other->transparentMode_;
        transparentColor_ = other->transparentColor_;
        TGraphic::SetTransparent(other->GetTransparent());
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

bool TBitmap::GetEmpty() const { return image_->width == 0 || image_->height == 0; }
int TBitmap::GetWidth() const { return image_->width; }
int TBitmap::GetHeight() const { return image_->height; }
int TBitmap::Width() const { return image_->width; }
int TBitmap::Height() const { return image_->height; }
void TBitmap::SetWidth(int width) { SetSize(width, image_->height); }
void TBitmap::SetHeight(int height) { SetSize(image_->width, height); }

void TBitmap::SetSize(int width, int height) {
    if (width < 0 || height < 0)
        throw EInvalidGraphicOperation("Invalid bitmap size " + std::to_string(width) + " x " + std::to_string(height));
    if (width == image_->width && height == image_->height) return;
    auto next = std::make_shared<Image>();
    next->palette = image_->palette;
    detail::AllocateRaster(*next, width, height, image_->format);
    next->alpha = image_->alpha;
    // Keep what fits of the old picture; whole bytes suffice since both rows
    // start at pixel 0 and bits past the old width are zero padding.
    const int rows = std::min(height, image_->height);
    const size_t bytes = std::min(next->stride, image_->stride);
    for (int y = 0; y < rows; ++y) std::memcpy(next->Row(y), image_->Row(y), bytes);
    if (width < image_->width && rows > 0) {
        // Clear the bits of dropped pixels that share the last kept byte.
        const int bpp = BitsPerPixel(next->format);
        const int64_t usedBits = int64_t{width} * bpp;
        if (usedBits % 8 != 0) {
            const auto mask = static_cast<uint8_t>(0xFFu << (8 - usedBits % 8));
            for (int y = 0; y < rows; ++y) next->Row(y)[usedBits / 8] &= mask;
        }
        for (int y = 0; y < rows; ++y) {
            const size_t from = static_cast<size_t>((usedBits + 7) / 8);
            std::memset(next->Row(y) + from, 0, static_cast<size_t>(next->stride) - from);
        }
    }
    image_ = std::move(next);
    Changed();
}

TPixelFormat TBitmap::GetPixelFormat() const { return image_->format; }

void TBitmap::SetPixelFormat(TPixelFormat format) {
    format = detail::HeldFormat(format);
    if (format == image_->format) return;
    auto next = std::make_shared<Image>();
    if (detail::IsPaletteFormat(format)) {
        const size_t room = size_t{1} << BitsPerPixel(format);
        if (image_->palette && !image_->palette->Entries.empty() && image_->palette->Entries.size() <= room)
            next->palette = image_->palette;
        else
            next->palette = detail::StandardPalette(format);
    } else {
        next->palette = image_->palette;
    }
    detail::AllocateRaster(*next, image_->width, image_->height, format);
    std::vector<TColor> row(static_cast<size_t>(image_->width));
    auto matcher = MatcherFor(*next);
    for (int y = 0; y < image_->height; ++y) {
        detail::RowToColors(*image_, y, 0, image_->width, row.data());
        detail::ColorsToRow(*next, y, 0, image_->width, row.data(), nullptr, matcher ? &*matcher : nullptr);
    }
    image_ = std::move(next);
    Changed();
}

HPALETTE TBitmap::GetPalette() const { return image_->palette; }

void TBitmap::SetPalette(HPALETTE palette) {
    if (palette && palette->Entries.size() > 256) throw EInvalidGraphicOperation("A palette holds at most 256 colours");
    if (detail::IsPaletteFormat(image_->format) && (!palette || palette->Entries.empty()))
        throw EInvalidGraphicOperation("A palette bitmap needs a palette");
    if (palette == image_->palette) return;
    Unshare();
    image_->palette = std::move(palette);
    SetPaletteModified(true);
    Changed();
}

uint8_t* TBitmap::GetScanline(int y) {
    if (y < 0 || y >= image_->height) throw EInvalidGraphicOperation("Scan line index out of range");
    Unshare();
    return image_->Row(y);
}

const uint8_t* TBitmap::GetScanline(int y) const {
    if (y < 0 || y >= image_->height) throw EInvalidGraphicOperation("Scan line index out of range");
    return image_->Row(y);
}

int TBitmap::GetStride() const { return image_->stride; }

TColor TBitmap::GetPixelColor(int x, int y) const { return detail::PixelColor(*image_, x, y); }

void TBitmap::GetRowColors(int y, int x0, int count, TColor* out) const {
    if (y < 0 || y >= image_->height || x0 < 0 || count < 0 || count > image_->width - x0)
        throw EInvalidGraphicOperation("Pixel span out of range");
    detail::RowToColors(*image_, y, x0, count, out);
}

bool TBitmap::GetAlphaChannel() const { return image_->format == TPixelFormat::pf32bit && image_->alpha; }

void TBitmap::SetAlphaChannel(bool value) {
    if (image_->format != TPixelFormat::pf32bit || value == image_->alpha) return;
    Unshare();
    image_->alpha = value;
    Changed();
}

TTransparentMode TBitmap::GetTransparentMode() const { return transparentMode_; }

void TBitmap::SetTransparentMode(TTransparentMode mode) {
    if (mode == transparentMode_) return;
    transparentMode_ = mode;
    // Fixed mode starts from the colour that automatic mode had.
    if (mode == TTransparentMode::tmFixed) transparentColor_ = GetPixelColor(0, image_->height - 1);
    Changed();
}

TColor TBitmap::GetTransparentColor() const {
    if (transparentMode_ == TTransparentMode::tmAuto) return GetPixelColor(0, image_->height - 1);
    return transparentColor_ & 0xFFFFFF;
}

void TBitmap::SetTransparentColor(TColor color) {
    transparentColor_ = color & 0xFFFFFF;
    transparentMode_ = TTransparentMode::tmFixed;
    Changed();
}

void TBitmap::LoadFromStream(TStream& stream) {
    Progress(TProgressStage::psStarting, 0, false, TRect{}, "Reading");
    auto next = std::make_shared<Image>();
    bmp::ReadBmp(stream, *next);
    image_ = std::move(next);
    transparentMode_ = TTransparentMode::tmAuto;
    Progress(TProgressStage::psEnding, 100, true, TRect{0, 0, image_->width, image_->height}, "Reading");
    Changed();
}

void TBitmap::SaveToStream(TStream& stream) { bmp::WriteBmp(stream, *image_); }

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) { canvas.StretchDraw(rect, *this); }

TCanvas& TBitmap::GetCanvas() {
    if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
    return *canvas_;
}

void TBitmap::FreeImage() {
    // Freeing comes right before a new picture is read in: its memory can serve
    // that picture, unless another bitmap still shares it.
    if (image_.use_count() == 1) detail::RecyclePixels(std::move(image_->pixels));
    auto next = std::make_shared<Image>();
    next->format = image_->format;
    next->palette = image_->palette;
    image_ = std::move(next);
    Changed();
}

void TBitmap::Unshare() {
    if (image_.use_count() > 1) image_ = std::make_shared<Image>(*image_);
}

// ---- TCanvas

namespace {

struct Span {
    int64_t srcX, srcY;  // wide: in a stretch they count in the (possibly huge) target rectangle
    int dstX, dstY, width, height;
};

// Clips the source rectangle placed at (x, y) to the target; false when nothing is left.
bool ClipSpan(int64_t x, int64_t y, int64_t srcWidth, int64_t srcHeight, int dstWidth, int dstHeight, Span& span) {
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(x + srcWidth, dstWidth);
    const int64_t bottom = std::min<int64_t>(y + srcHeight, dstHeight);
    if (right <= left || bottom <= top) return false;
    span.dstX = static_cast<int>(left);
    span.dstY = static_cast<int>(top);
    span.srcX = left - x;
    span.srcY = top - y;
    span.width = static_cast<int>(right - left);
    span.height = static_cast<int>(bottom - top);
    return true;
}

// Same-format copy of 3- or 4-byte pixels; the batch run's cover stamp lands here.
template <int Bytes>
void CopyDirect(const Raster& src, Raster& dst, const Span& s, bool keyed, TColor key) {
    const size_t rowBytes = static_cast<size_t>(s.width) * Bytes;
    // What is drawn onto a picture with alpha must cover it, whatever the
    // source's fourth byte held: the cover is keyed by colour, never by alpha.
    const bool opaque = Bytes == 4 && dst.alpha;
    const auto kb = GetBValue(key), kg = GetGValue(key), kr = GetRValue(key);
    for (int j = 0; j < s.height; ++j) {
        const uint8_t* sp = src.Row(static_cast<int>(s.srcY + j)) + static_cast<size_t>(s.srcX) * Bytes;
        uint8_t* dp = dst.Row(s.dstY + j) + static_cast<size_t>(s.dstX) * Bytes;
        if (!keyed) {
            std::memcpy(dp, sp, rowBytes);
            if constexpr (Bytes == 4)
                if (opaque)
                    for (int i = 0; i < s.width; ++i) dp[static_cast<size_t>(i) * 4 + 3] = 255;
            continue;
        }
        for (int i = 0; i < s.width; ++i, sp += Bytes, dp += Bytes) {
            if (sp[0] == kb && sp[1] == kg && sp[2] == kr) continue;
            dp[0] = sp[0];
            dp[1] = sp[1];
            dp[2] = sp[2];
            if constexpr (Bytes == 4) dp[3] = opaque ? uint8_t{255} : sp[3];
        }
    }
}

}  // namespace

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
    auto* bitmap = dynamic_cast<TBitmap*>(&graphic);
    if (!bitmap) {
        // Far-off corners saturate rather than wrap round.
        auto far = [](int from, int size) {
            return static_cast<int>(std::min<int64_t>(int64_t{from} + size, std::numeric_limits<int>::max()));
        };
        graphic.Draw(*this, TRect{x, y, far(x, graphic.GetWidth()), far(y, graphic.GetHeight())});
        return;
    }
    // Hold the source raster first: drawing a bitmap onto itself (or onto a copy
    // sharing its raster) then reads the untouched pixels.
    const std::shared_ptr<const TBitmap::Image> srcImage = bitmap->image_;
    const Raster& src = *srcImage;
    Span s{};
    if (!ClipSpan(x, y, src.width, src.height, owner_.image_->width, owner_.image_->height, s)) return;
    owner_.Unshare();
    Raster& dst = *owner_.image_;
    const bool keyed = bitmap->GetTransparent();
    const TColor key = bitmap->GetTransparentColor() & 0xFFFFFF;

    if (src.format == dst.format && src.format == TPixelFormat::pf24bit) {
        CopyDirect<3>(src, dst, s, keyed, key);
    } else if (src.format == dst.format && src.format == TPixelFormat::pf32bit) {
        CopyDirect<4>(src, dst, s, keyed, key);
    } else {
        std::vector<TColor> colors(static_cast<size_t>(s.width));
        std::vector<uint8_t> skip(keyed ? static_cast<size_t>(s.width) : 0);
        auto matcher = MatcherFor(dst);
        for (int j = 0; j < s.height; ++j) {
            detail::RowToColors(src, static_cast<int>(s.srcY + j), static_cast<int>(s.srcX), s.width, colors.data());
            if (keyed)
                for (int i = 0; i < s.width; ++i) skip[static_cast<size_t>(i)] = colors[static_cast<size_t>(i)] == key;
            detail::ColorsToRow(dst, s.dstY + j, s.dstX, s.width, colors.data(), keyed ? skip.data() : nullptr,
                                matcher ? &*matcher : nullptr);
        }
    }
    owner_.Changed();
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic& graphic) {
    auto* bitmap = dynamic_cast<TBitmap*>(&graphic);
    if (!bitmap) {
        graphic.Draw(*this, rect);
        return;
    }
    // In 64 bits: a rectangle spanning most of the int range must not overflow.
    const int64_t rectWidth = int64_t{rect.Right} - rect.Left;
    const int64_t rectHeight = int64_t{rect.Bottom} - rect.Top;
    if (rectWidth <= 0 || rectHeight <= 0) return;
    const std::shared_ptr<const TBitmap::Image> srcImage = bitmap->image_;
    const Raster& src = *srcImage;
    if (src.width == 0 || src.height == 0) return;
    if (rectWidth == src.width && rectHeight == src.height) {
        Draw(rect.Left, rect.Top, graphic);
        return;
    }
    Span s{};
    if (!ClipSpan(rect.Left, rect.Top, rectWidth, rectHeight, owner_.image_->width, owner_.image_->height, s)) return;
    owner_.Unshare();
    Raster& dst = *owner_.image_;
    const bool keyed = bitmap->GetTransparent();
    const TColor key = bitmap->GetTransparentColor() & 0xFFFFFF;
    auto matcher = MatcherFor(dst);
    std::vector<TColor> line(static_cast<size_t>(src.width));
    std::vector<TColor> colors(static_cast<size_t>(s.width));
    std::vector<uint8_t> skip(static_cast<size_t>(s.width));
    std::vector<int> columns(static_cast<size_t>(s.width));
    for (int i = 0; i < s.width; ++i)
        columns[static_cast<size_t>(i)] = static_cast<int>((s.srcX + i) * src.width / rectWidth);
    int loadedRow = -1;
    for (int j = 0; j < s.height; ++j) {
        const int sy = static_cast<int>((s.srcY + j) * src.height / rectHeight);
        if (sy != loadedRow) {
            detail::RowToColors(src, sy, 0, src.width, line.data());
            loadedRow = sy;
        }
        for (size_t i = 0; i < colors.size(); ++i) {
            colors[i] = line[static_cast<size_t>(columns[i])];
            skip[i] = keyed && colors[i] == key;
        }
        detail::ColorsToRow(dst, s.dstY + j, s.dstX, s.width, colors.data(), skip.data(),
                            matcher ? &*matcher : nullptr);
    }
    owner_.Changed();
}

TColor TCanvas::GetPixel(int x, int y) const { return owner_.GetPixelColor(x, y); }

void TCanvas::SetPixel(int x, int y, TColor color) {
    if (x < 0 || y < 0 || x >= owner_.image_->width || y >= owner_.image_->height) return;
    owner_.Unshare();
    auto matcher = MatcherFor(*owner_.image_);
    detail::ColorsToRow(*owner_.image_, y, x, 1, &color, nullptr, matcher ? &*matcher : nullptr);
    owner_.Changed();
}

// ---- TPicture

namespace {

struct FileFormat {
    std::string extension;
    std::string description;
    std::string className;
    TPicture::TGraphicFactory factory;
};

std::vector<FileFormat>& Formats() {
    static std::vector<FileFormat> formats{{"bmp", "Bitmaps", "TBitmap", [] { return std::make_unique<TBitmap>(); }}};
    return formats;
}

std::string Normalised(const std::string& extension) {
    std::string ext = LowerCase(extension);
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    return ext;
}

const FileFormat* FindFormat(const std::string& extension) {
    const std::string ext = Normalised(extension);
    for (const FileFormat& f : Formats())
        if (f.extension == ext) return &f;
    return nullptr;
}

}  // namespace

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const std::string& className, TGraphicFactory factory) {
    const std::string ext = Normalised(extension);
    for (FileFormat& f : Formats())
        if (f.extension == ext) {
            f = {ext, description, className, std::move(factory)};
            return;
        }
    Formats().push_back({ext, description, className, std::move(factory)});
}

void TPicture::UnregisterGraphicClass(const std::string& className) {
    auto& formats = Formats();
    formats.erase(
        std::remove_if(formats.begin(), formats.end(), [&](const FileFormat& f) { return f.className == className; }),
        formats.end());
}

std::string TPicture::FileFormatDescription(const std::string& extension) {
    const FileFormat* f = FindFormat(extension);
    return f ? f->description : std::string();
}

void TPicture::LoadFromFile(const std::string& path) {
    const std::string ext = ExtractFileExt(path);
    const FileFormat* format = FindFormat(ext);
    if (!format) {
        if (ext.empty()) throw EInvalidGraphic("Cannot tell the picture kind of \"" + path + "\": it has no extension");
        throw EInvalidGraphic("Unknown picture file extension (" + LowerCase(ext) + ")");
    }
    std::unique_ptr<TGraphic> graphic = format->factory();
    graphic->LoadFromFile(path);  // throws before anything we hold changes
    SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& path) {
    if (!graphic_) throw EInvalidGraphicOperation("There is no picture to save");
    graphic_->SaveToFile(path);
}

void TPicture::Assign(TGraphic* source) {
    if (!source) {
        SetGraphic(nullptr);
        return;
    }
    std::unique_ptr<TGraphic> copy = source->NewInstance();
    copy->Assign(*source);
    SetGraphic(std::move(copy));
}

TBitmap& TPicture::GetBitmap() {
    if (auto* bitmap = dynamic_cast<TBitmap*>(graphic_.get())) return *bitmap;
    auto bitmap = std::make_unique<TBitmap>();
    if (graphic_) bitmap->Assign(*graphic_);
    TBitmap& result = *bitmap;
    SetGraphic(std::move(bitmap));
    return result;
}

int TPicture::GetWidth() const { return graphic_ ? graphic_->GetWidth() : 0; }
int TPicture::GetHeight() const { return graphic_ ? graphic_->GetHeight() : 0; }

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
    graphic_ = std::move(graphic);
    if (graphic_)
        graphic_->OnChange = [this](TGraphic&) {
            if (OnChange) OnChange(*this);
        };
    if (OnChange) OnChange(*this);
}

}  // namespace vmk
