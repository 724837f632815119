#include "imaging/ForeignImage.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "imaging/JpegCodec.h"

namespace vmk {

namespace {

constexpr char kExifHeader[] = "Exif\0\0";  // 6 bytes before the TIFF block in an APP1 segment
constexpr size_t kExifHeaderSize = 6;
constexpr char kXmpHeader[] = "http://ns.adobe.com/xap/1.0/";  // and its terminating zero
constexpr size_t kXmpHeaderSize = sizeof(kXmpHeader);
constexpr char kIccHeader[] = "ICC_PROFILE";  // and its zero, then the chunk number and count
constexpr size_t kIccHeaderSize = sizeof(kIccHeader) + 2;
// The most a JPEG segment holds after its length field.
constexpr size_t kMaxSegment = 65533;

bool StartsWith(const std::vector<uint8_t>& data, const char* prefix, size_t size) {
    return data.size() >= size && std::memcmp(data.data(), prefix, size) == 0;
}

TJPEGMarker ExifMarker(const std::vector<uint8_t>& block) {
    TJPEGMarker m{0xE1, std::vector<uint8_t>(kExifHeaderSize + block.size())};
    std::memcpy(m.Data.data(), kExifHeader, kExifHeaderSize);
    if (!block.empty()) std::memcpy(m.Data.data() + kExifHeaderSize, block.data(), block.size());
    return m;
}

}  // namespace

TJPEGMarkers MarkersFromMetadata(const TPictureMetadata& metadata) {
    TJPEGMarkers markers;
    // What does not fit one segment is left out: a cut block would be damage.
    if (!metadata.Exif.empty() && metadata.Exif.size() + kExifHeaderSize <= kMaxSegment)
        markers.push_back(ExifMarker(metadata.Exif));
    if (!metadata.Xmp.empty() && metadata.Xmp.size() + kXmpHeaderSize <= kMaxSegment) {
        TJPEGMarker m{0xE1, {}};
        m.Data.assign(kXmpHeader, kXmpHeader + kXmpHeaderSize);
        m.Data.insert(m.Data.end(), metadata.Xmp.begin(), metadata.Xmp.end());
        markers.push_back(std::move(m));
    }
    constexpr size_t kIccChunk = kMaxSegment - kIccHeaderSize;
    const size_t chunks = (metadata.Icc.size() + kIccChunk - 1) / kIccChunk;
    if (chunks > 0 && chunks <= 255)
        for (size_t i = 0; i < chunks; ++i) {
            TJPEGMarker m{0xE2, {}};
            m.Data.assign(kIccHeader, kIccHeader + sizeof(kIccHeader));
            m.Data.push_back(static_cast<uint8_t>(i + 1));
            m.Data.push_back(static_cast<uint8_t>(chunks));
            const auto from = metadata.Icc.begin() + static_cast<ptrdiff_t>(i * kIccChunk);
            const auto to =
                metadata.Icc.begin() + static_cast<ptrdiff_t>(std::min(metadata.Icc.size(), (i + 1) * kIccChunk));
            m.Data.insert(m.Data.end(), from, to);
            markers.push_back(std::move(m));
        }
    return markers;
}

TPictureMetadata MetadataFromMarkers(const TJPEGMarkers& markers) {
    TPictureMetadata metadata;
    std::vector<const TJPEGMarker*> icc;
    size_t iccCount = 0;
    bool iccDamaged = false;
    for (const TJPEGMarker& m : markers) {
        if (m.Code == 0xE1 && metadata.Exif.empty() && StartsWith(m.Data, kExifHeader, kExifHeaderSize)) {
            metadata.Exif.assign(m.Data.begin() + kExifHeaderSize, m.Data.end());
        } else if (m.Code == 0xE1 && metadata.Xmp.empty() && StartsWith(m.Data, kXmpHeader, kXmpHeaderSize)) {
            metadata.Xmp.assign(m.Data.begin() + kXmpHeaderSize, m.Data.end());
        } else if (m.Code == 0xE2 && StartsWith(m.Data, kIccHeader, sizeof(kIccHeader)) &&
                   m.Data.size() >= kIccHeaderSize) {
            const size_t count = m.Data[sizeof(kIccHeader) + 1];
            if (iccCount != 0 && count != iccCount) iccDamaged = true;
            iccCount = count;
            icc.push_back(&m);
        }
    }
    // The chunks in their numbered order, each once, all there; else no profile.
    if (!iccDamaged && iccCount != 0 && icc.size() == iccCount) {
        std::sort(icc.begin(), icc.end(),
                  [](const TJPEGMarker* a, const TJPEGMarker* b) { return a->Data[12] < b->Data[12]; });
        for (size_t i = 0; i < icc.size(); ++i)
            if (icc[i]->Data[sizeof(kIccHeader)] != i + 1) return metadata;
        for (const TJPEGMarker* m : icc)
            metadata.Icc.insert(metadata.Icc.end(), m->Data.begin() + kIccHeaderSize, m->Data.end());
    }
    return metadata;
}

TOrientation ExifBlockOrientation(const std::vector<uint8_t>& exif) {
    if (exif.empty()) return TOrientation::Normal;
    const TJPEGMarker m = ExifMarker(exif);
    return ExifOrientationOf(m.Data.data(), m.Data.size()).value_or(TOrientation::Normal);
}

void MarkExifBlockUpright(std::vector<uint8_t>& exif) {
    if (exif.empty()) return;
    TJPEGMarkers markers{ExifMarker(exif)};
    MarkUpright(markers);
    exif.assign(markers[0].Data.begin() + kExifHeaderSize, markers[0].Data.end());
}

bool IsRgbProfile(const std::vector<uint8_t>& icc) {
    // The header is 128 bytes; its colour space signature sits at 16.
    return icc.size() >= 128 && std::memcmp(icc.data() + 16, "RGB ", 4) == 0;
}

void CheckPictureSize(const char* format, int64_t width, int64_t height, int bytesPerPixel, int64_t codecBytes) {
    const bool fits = width > 0 && height > 0 && width <= kMaxPixels && height <= kMaxPixels &&
                      width * height <= kMaxPixels && codecBytes >= 0 &&
                      width * height * bytesPerPixel <= kMaxPictureBytes - std::min(codecBytes, kMaxPictureBytes);
    if (!fits)
        throw EInvalidGraphic(std::string(format) + " image too large to load: " + std::to_string(width) + " x " +
                              std::to_string(height) + " pixels");
}

void PrepareBitmap(TBitmap& bitmap, int width, int height, bool alpha) {
    bitmap.FreeImage();
    bitmap.SetPixelFormat(alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    bitmap.SetAlphaChannel(alpha);
}

TOrientation OrientationOf(unsigned number) {
    return number >= 1 && number <= 8 ? static_cast<TOrientation>(number) : TOrientation::Normal;
}

// ---- TForeignImage

TForeignImage::TForeignImage() : bitmap_(std::make_shared<TBitmap>()) {}
TForeignImage::~TForeignImage() = default;

void TForeignImage::Assign(TGraphic& source) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&source)) {
        auto next = std::make_shared<TBitmap>();
        next->Assign(*bitmap);
        bitmap_ = std::move(next);
        Changed();
        return;
    }
    if (auto* other = dynamic_cast<TForeignImage*>(&source);
        other && std::strcmp(ClassName(), other->ClassName()) == 0) {
        if (other == this) return;
        auto next = std::make_shared<TBitmap>();
        next->Assign(*other->bitmap_);  // the raster is shared until one side writes
        bitmap_ = std::move(next);
        metadata_ = other->metadata_;
        quality_ = other->quality_;
        lossless_ = other->lossless_;
        CopySettings(*other);
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

void TForeignImage::AssignTo(TGraphic& destination) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&destination)) {
        bitmap->Assign(*bitmap_);
        return;
    }
    TGraphic::AssignTo(destination);
}

void TForeignImage::CopySettings(const TForeignImage&) {}

bool TForeignImage::GetEmpty() const { return bitmap_->GetEmpty(); }
int TForeignImage::GetWidth() const { return bitmap_->Width(); }
int TForeignImage::GetHeight() const { return bitmap_->Height(); }

void TForeignImage::SetWidth(int) { throw EInvalidGraphicOperation(std::string("Cannot resize a ") + ClassName()); }
void TForeignImage::SetHeight(int) { throw EInvalidGraphicOperation(std::string("Cannot resize a ") + ClassName()); }

void TForeignImage::LoadFromStream(TStream& stream) {
    const int64_t size = stream.GetSize() - stream.GetPosition();
    // The file is compressed: no file this size could hold a picture within bounds.
    if (size < 0 || size > kMaxPictureBytes) throw EInvalidGraphic(std::string(ClassName()) + ": file too large");
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0) stream.ReadBuffer(bytes.data(), size);
    auto next = std::make_shared<TBitmap>();
    TPictureMetadata metadata;
    const bool lossless = Decode(bytes.data(), bytes.size(), *next, metadata);
    bitmap_ = std::move(next);
    metadata_ = std::move(metadata);
    lossless_ = lossless;
    Changed();
}

void TForeignImage::SaveToStream(TStream& stream) {
    if (bitmap_->GetEmpty()) throw EInvalidGraphicOperation("There is no picture to save");
    Encode(*bitmap_, stream);
}

void TForeignImage::Draw(TCanvas& canvas, const TRect& rect) { canvas.StretchDraw(rect, *bitmap_); }

}  // namespace vmk
