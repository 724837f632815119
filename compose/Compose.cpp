#include "compose/Compose.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

#include "compose/CoverStamp.h"
#include "core/Exception.h"
#include "core/FileUtils.h"
#include "core/Saturate.h"
#include "core/Streams.h"
#include "imaging/ForeignImage.h"
#include "imaging/HeifImage.h"
#include "imaging/Jpeg.h"
#include "imaging/Metadata.h"
#include "imaging/PngCodec.h"
#include "imaging/PngWrite.h"
#include "imaging/TiffImage.h"
#include "imaging/WebpImage.h"

namespace vmk {

namespace {

// Deletes the trial file however the trial ends; a file that cannot be
// deleted is left without a word.
class TrialFile {
public:
    explicit TrialFile(std::string path) : path_(std::move(path)) {}
    ~TrialFile() { DeleteFile(path_); }
    TrialFile(const TrialFile&) = delete;
    TrialFile& operator=(const TrialFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace

void ApplyCoverTransparency(TBitmap& cover, const TCoverSettings& settings) {
    if (settings.AutoDetTrans) {
        cover.SetTransparentMode(TTransparentMode::tmAuto);
    } else {
        cover.SetTransparentMode(TTransparentMode::tmFixed);
        cover.SetTransparentColor(settings.TransColor);
    }
    cover.SetTransparent(settings.Transparent);
}

bool IsCoverPath(const std::string& path) { return IsBitmapPath(path) || LowerCase(ExtractFileExt(path)) == ".png"; }

void LoadCoverFile(TBitmap& cover, const std::string& path) {
    if (IsBitmapPath(path) || LowerCase(ExtractFileExt(path)) != ".png") {
        cover.LoadFromFile(path);
        return;
    }
    NamingFile(path, [&] {
        TBitmap read;
        TFileStream file(path, TFileMode::OpenRead);
        png::ReadPng(file, read);
        // A fresh picture, as a bitmap read from a file is: automatic colour key.
        cover.Assign(read);
        cover.SetTransparentMode(TTransparentMode::tmAuto);
    });
}

void PrepareCover(TBitmap& cover, const TCoverSettings& settings) {
    LoadCoverFile(cover, settings.CoverFile);
    ApplyCoverTransparency(cover, settings);
}

void LoadSource(TBitmap& working, const std::string& path) {
    TJPEGMarkers ignored;
    LoadSource(working, path, ignored);
}

namespace {

// The decoded picture of a loaded JPEG becomes the working bitmap; the reader
// goes as soon as its picture is ours, and the working bitmap then holds the
// decoded rows on its own.
void TakeDecoded(TBitmap& working, std::unique_ptr<TJPEGImage> reader, TJPEGMarkers& markers) {
    working.Assign(*reader);
    markers = reader->GetMarkers();
    reader.reset();
    working.SetTransparent(false);
}

// The source's segments, made true of the result the writer is to encode:
// width x height upright pixels in the writer's colour space.
void SetResultMarkers(TJPEGImage& writer, const TJPEGMarkers& source, int width, int height) {
    writer.SetMarkers(ResultMarkers(source, width, height, writer.GetGrayOnly()));
}

}  // namespace

void LoadSource(TBitmap& working, const std::string& path, TJPEGMarkers& markers) {
    markers.clear();
    // The previous picture goes first: the run reuses its working bitmap, and
    // keeping the old raster while the new one is read would hold two pictures.
    working.FreeImage();
    if (IsBitmapPath(path)) {
        working.LoadFromFile(path);
        working.SetTransparent(false);
        return;
    }
    if (IsJpegPath(path)) {
        auto reader = std::make_unique<TJPEGImage>();
        reader->LoadFromFile(path);
        TakeDecoded(working, std::move(reader), markers);
        return;
    }
    // Every other format through the class registered for its extension.
    TPicture picture;
    picture.LoadFromFile(path);
    TGraphic* graphic = picture.GetGraphic();
    working.Assign(*graphic);
    if (const auto* foreign = dynamic_cast<const TForeignImage*>(graphic))
        markers = MarkersFromMetadata(foreign->GetMetadata());
    picture.Assign(nullptr);
    working.SetTransparent(false);
}

TCoverPosition CoverPlacement(const TCoverSettings& settings, int pictureW, int pictureH, int coverW, int coverH) {
    // Sizes are never negative, so the differences fit an int; the 64-bit
    // arithmetic only keeps that true whatever a caller hands in.
    // Margins: pixels as they stand, or a share of the picture's side rounded
    // to nearest; a negative one is taken as 0.
    const auto margin = [&](int value, int side) {
        const int64_t m = std::max(value, 0);
        return settings.MarginPercent ? (m * std::max(side, 0) * 2 + 100) / 200 : m;
    };
    const int64_t mx = margin(settings.MarginX, pictureW), my = margin(settings.MarginY, pictureH);
    const auto clampInt = [](int64_t v) {
        return static_cast<int>(
            std::clamp<int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    };
    const int64_t left = mx, top = my;
    const int64_t right = int64_t{pictureW} - coverW - mx, bottom = int64_t{pictureH} - coverH - my;
    // Rounded down also when the cover is larger than the picture.
    const auto centre = [](int64_t room) { return room >= 0 ? room / 2 : -((-room + 1) / 2); };
    const int64_t middleX = centre(int64_t{pictureW} - coverW), middleY = centre(int64_t{pictureH} - coverH);
    switch (settings.Place) {
    case TCoverPlace::LT: return {clampInt(left), clampInt(top)};
    case TCoverPlace::LB: return {clampInt(left), clampInt(bottom)};
    case TCoverPlace::RT: return {clampInt(right), clampInt(top)};
    case TCoverPlace::RB: return {clampInt(right), clampInt(bottom)};
    case TCoverPlace::TC: return {clampInt(middleX), clampInt(top)};
    case TCoverPlace::BC: return {clampInt(middleX), clampInt(bottom)};
    case TCoverPlace::LM: return {clampInt(left), clampInt(middleY)};
    case TCoverPlace::RM: return {clampInt(right), clampInt(middleY)};
    case TCoverPlace::CC: return {clampInt(middleX), clampInt(middleY)};
    case TCoverPlace::Other: return {settings.Left, settings.Top};
    case TCoverPlace::None: break;
    }
    return {0, 0};
}

void DrawCover(TBitmap& working, TBitmap& cover, const TCoverSettings& settings) {
    TCoverCache stamp(cover, settings);
    DrawCover(working, stamp);
}

TWriteFormat WriteFormatFor(TSaveAs saveAs, const std::string& sourcePath) {
    switch (saveAs) {
    case TSaveAs::BMP: return TWriteFormat::Bmp;
    case TSaveAs::JPG: return TWriteFormat::Jpeg;
    case TSaveAs::PNG: return TWriteFormat::Png;
    case TSaveAs::WEBP: return TWriteFormat::WebP;
    case TSaveAs::TIFF: return TWriteFormat::Tiff;
    case TSaveAs::AsIs: break;
    }
    const std::string ext = LowerCase(ExtractFileExt(sourcePath));
    if (ext == ".bmp") return TWriteFormat::Bmp;
    if (ext == ".png") return TWriteFormat::Png;
    if (ext == ".webp") return WebPFileIsLossless(sourcePath) ? TWriteFormat::WebPLossless : TWriteFormat::WebP;
    if (ext == ".tif" || ext == ".tiff") return TWriteFormat::Tiff;
    if (ext == ".heic" || ext == ".heif") return TWriteFormat::Heic;
    if (ext == ".avif") return TWriteFormat::Avif;
    return TWriteFormat::Jpeg;
}

bool IsLossyFormat(TWriteFormat format) {
    return format == TWriteFormat::Jpeg || format == TWriteFormat::WebP || format == TWriteFormat::Heic ||
           format == TWriteFormat::Avif;
}

std::string OutputFolder(const std::string& pathText, const std::string& sourcePath, const std::string& baseFolder) {
    std::string folder;
    if (pathText.empty())
        folder = ExtractFilePath(sourcePath);
    else if (pathText.back() == '/')
        folder = pathText;
    else
        folder = pathText + "/";
    // "~" and "~/..." as a shell reads them; "~name" is an ordinary folder name.
    if (folder.rfind("~/", 0) == 0) return UserHomeFolder() + folder.substr(2);
    // An absolute folder stays as it is, a relative one lies in the base folder.
    if (folder.empty() || folder.front() != '/') folder = baseFolder + folder;
    return folder;
}

std::string RelativeOutputBase(const std::string& appFolder) {
    return FolderWritable(appFolder) ? appFolder : UserHomeFolder();
}

std::string TrialFolder(const std::string& appFolder) {
    return FolderWritable(appFolder) ? appFolder : UserRuntimeFolder();
}

void CheckFileFix(const std::string& fix) {
    if (fix.find('/') != std::string::npos)
        throw Exception("The name fix \"" + fix + "\" cannot be used: a file name cannot hold \"/\"");
}

std::string OutputFileName(const std::string& sourcePath, const TOutputSettings& settings) {
    const std::string name = ExtractFileName(sourcePath);
    const std::string ext = ExtractFileExt(name);
    const std::string base = name.substr(0, name.size() - ext.size());
    std::string result = settings.Prefix ? settings.FileFix + base : base + settings.FileFix;
    switch (settings.SaveAs) {
    case TSaveAs::BMP: return result + ".bmp";
    case TSaveAs::JPG: return result + ".jpg";
    case TSaveAs::PNG: return result + ".png";
    case TSaveAs::WEBP: return result + ".webp";
    case TSaveAs::TIFF: return result + ".tif";
    case TSaveAs::AsIs: break;
    }
    return result + ext;
}

uint8_t JpegQuality(int value) { return static_cast<uint8_t>(std::clamp(value, 1, 100)); }

namespace {

std::unique_ptr<TForeignImage> ForeignWriter(TWriteFormat format) {
    switch (format) {
    case TWriteFormat::WebP:
    case TWriteFormat::WebPLossless: return std::make_unique<TWebPImage>();
    case TWriteFormat::Tiff: return std::make_unique<TTIFFImage>();
    case TWriteFormat::Heic: return std::make_unique<THEIFImage>(THEIFCompression::Hevc);
    case TWriteFormat::Avif: return std::make_unique<THEIFImage>(THEIFCompression::Av1);
    default: return nullptr;
    }
}

// JPEG holds no alpha: a see-through picture is laid on white, as image
// editors export it, rather than showing whatever colour its clear pixels hide.
void FlattenOntoWhite(TBitmap& working) {
    if (working.GetPixelFormat() != TPixelFormat::pf32bit || !working.GetAlphaChannel()) return;
    TBitmap white;
    white.SetPixelFormat(TPixelFormat::pf24bit);
    white.SetSize(working.Width(), working.Height());
    for (int y = 0; y < white.Height(); ++y)
        std::memset(white.GetScanline(y), 0xFF, static_cast<size_t>(white.Width()) * 3);
    white.GetCanvas().DrawBlended(0, 0, working, 100);
    working.Assign(white);
}

}  // namespace

void EncodeResult(TBitmap& working, TStream& out, TWriteFormat format, int quality, const TJPEGMarkers& markers) {
    if (format == TWriteFormat::Bmp) {
        working.SaveToStream(out);
        return;
    }
    if (format == TWriteFormat::Png) {
        WritePng(working, MetadataFromMarkers(markers), out);
        return;
    }
    if (auto foreign = ForeignWriter(format)) {
        foreign->Assign(working);
        foreign->SetQuality(JpegQuality(quality));
        foreign->SetLossless(format == TWriteFormat::WebPLossless);
        foreign->SetMetadata(MetadataFromMarkers(markers));
        foreign->SaveToStream(out);
        return;
    }
    TBitmap flat;  // shares the picture unless it has alpha to flatten
    flat.Assign(working);
    FlattenOntoWhite(flat);
    auto writer = std::make_unique<TJPEGImage>();
    writer->Assign(flat);
    writer->SetSaveQuality(JpegQuality(quality));
    SetResultMarkers(*writer, markers, working.Width(), working.Height());
    writer->SaveToStream(out);
}

void WriteResult(TBitmap& working, const std::string& path, TWriteFormat format, int quality,
                 const TJPEGMarkers& markers) {
    // What SaveToFile does: a temporary file, renamed over the target once whole.
    TSafeFileStream file(path);
    EncodeResult(working, file, format, quality, markers);
    file.Commit();
}

void ComposeJpegResult(TBitmap& working, const std::string& sourcePath, TBitmap& cover, const TCoverSettings& settings,
                       int quality, TStream& out) {
    TCoverCache stamp(cover, settings);
    ComposeJpegResult(working, sourcePath, stamp, quality, out);
}

void ComposeJpegResult(TBitmap& working, const std::string& sourcePath, TCoverCache& cover, int quality, TStream& out) {
    TJPEGMarkers markers;
    working.FreeImage();
    if (!IsJpegPath(sourcePath)) {
        LoadSource(working, sourcePath, markers);
    } else {
        auto reader = std::make_unique<TJPEGImage>();
        reader->LoadFromFile(sourcePath);
        // The writer EncodeResult would make, before it is given the picture.
        TJPEGImage writer;
        writer.SetSaveQuality(JpegQuality(quality));
        SetResultMarkers(writer, reader->GetMarkers(), reader->GetWidth(), reader->GetHeight());
        // Made at the first band: a picture that must be turned never gets
        // here, and its cover is made for its upright size instead.
        std::shared_ptr<TBitmap> stamp;
        TCoverPosition at;
        const auto drawOnBand = [&](TBitmap& band, int top) {
            if (!stamp) {
                stamp = cover.For(reader->GetWidth(), reader->GetHeight());
                at = CoverPlacement(cover.Settings(), reader->GetWidth(), reader->GetHeight(), stamp->Width(),
                                    stamp->Height());
            }
            band.GetCanvas().DrawBlended(at.X, SaturatingAdd(at.Y, -int64_t{top}), *stamp, cover.Settings().Opacity);
        };
        if (writer.TranscodeInBands(*reader, out, drawOnBand)) return;
        TakeDecoded(working, std::move(reader), markers);
    }
    DrawCover(working, cover);
    EncodeResult(working, out, TWriteFormat::Jpeg, quality, markers);
    working.FreeImage();
}

void ComposeResult(TBitmap& working, const std::string& sourcePath, TCoverCache& cover, TWriteFormat format,
                   int quality, TStream& out) {
    if (format == TWriteFormat::Jpeg) {
        ComposeJpegResult(working, sourcePath, cover, quality, out);
        return;
    }
    TJPEGMarkers markers;
    LoadSource(working, sourcePath, markers);
    DrawCover(working, cover);
    EncodeResult(working, out, format, quality, markers);
    working.FreeImage();
}

std::string WriteTrialFile(const std::string& folder, const TMemoryStream& bytes) {
    for (long long n = 0;; ++n) {
        std::string name = folder + "Test" + IntToStr(n) + ".jpg";
        // Any entry of that name is taken, a folder or a dangling link too: the
        // trial file is deleted afterwards, and must never be something of the user's.
        if (bytes.SaveToNewFile(name)) return name;
    }
}

void ResultTrial(TBitmap& working, TWriteFormat format, int quality, const TJPEGMarkers& markers) {
    std::unique_ptr<TForeignImage> reader = ForeignWriter(format);
    if (!reader) throw EInvalidGraphicOperation("No trial for this format");
    TMemoryStream bytes;
    EncodeResult(working, bytes, format, quality, markers);
    bytes.SetPosition(0);
    reader->LoadFromStream(bytes);
    working.Assign(*reader);
}

namespace {

// The trial file's part of a JPEG trial: the bytes written to a fresh trial
// file, read back from it into working at the scale scaleFor picks for the
// picture's whole size, and the file deleted.
void ReadBackTrial(TBitmap& working, const TMemoryStream& bytes, const std::string& folder,
                   const std::function<TJPEGReduceBy(int width, int height)>& scaleFor) {
    TrialFile file(WriteTrialFile(folder, bytes));  // from here on it is removed however we leave
    auto trial = std::make_unique<TJPEGImage>();
    trial->LoadFromFile(file.Path());
    trial->SetReduceBy(scaleFor(trial->GetWidth(), trial->GetHeight()));
    working.Assign(*trial);
}

}  // namespace

void JpegTrial(TBitmap& working, int quality, const std::string& folder, const TJPEGMarkers& markers,
               TJPEGReduceBy reduce) {
    TMemoryStream bytes;
    EncodeResult(working, bytes, TWriteFormat::Jpeg, quality, markers);
    ReadBackTrial(working, bytes, folder, [reduce](int, int) { return reduce; });
}

void JpegResultTrial(TBitmap& working, const std::string& sourcePath, TCoverCache& cover, int quality,
                     const std::string& folder, const std::function<TJPEGReduceBy(int width, int height)>& scaleFor) {
    TMemoryStream bytes;
    NamingFile(sourcePath, [&] { ComposeJpegResult(working, sourcePath, cover, quality, bytes); });
    ReadBackTrial(working, bytes, folder, scaleFor);
}

}  // namespace vmk
