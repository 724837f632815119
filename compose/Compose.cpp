#include "compose/Compose.h"

#include <algorithm>
#include <memory>

#include "core/FileUtils.h"
#include "core/Saturate.h"
#include "core/Streams.h"
#include "imaging/ForeignImage.h"
#include "imaging/HeifImage.h"
#include "imaging/Jpeg.h"
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

void PrepareCover(TBitmap& cover, const TCoverSettings& settings) {
    cover.LoadFromFile(settings.CoverFile);
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
    const auto diff = [](int a, int b) { return SaturatingAdd(a, -int64_t{b}); };
    switch (settings.Place) {
    case TCoverPlace::LT: return {0, 0};
    case TCoverPlace::LB: return {0, diff(pictureH, coverH)};
    case TCoverPlace::RT: return {diff(pictureW, coverW), 0};
    case TCoverPlace::RB: return {diff(pictureW, coverW), diff(pictureH, coverH)};
    case TCoverPlace::Other: return {settings.Left, settings.Top};
    case TCoverPlace::None: break;
    }
    return {0, 0};
}

void DrawCover(TBitmap& working, TBitmap& cover, const TCoverSettings& settings) {
    const TCoverPosition at =
        CoverPlacement(settings, working.Width(), working.Height(), cover.Width(), cover.Height());
    working.GetCanvas().Draw(at.X, at.Y, cover);
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
    // No drives here: an absolute folder stays as it is, a relative one lies
    // in the base folder.
    if (ExtractFileDrive(folder).empty() && (folder.empty() || folder.front() != '/')) folder = baseFolder + folder;
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
    auto writer = std::make_unique<TJPEGImage>();
    writer->Assign(working);
    writer->SetSaveQuality(JpegQuality(quality));
    writer->SetMarkers(markers);
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
        writer.SetMarkers(reader->GetMarkers());
        const TCoverPosition at =
            CoverPlacement(settings, reader->GetWidth(), reader->GetHeight(), cover.Width(), cover.Height());
        const auto drawOnBand = [&](TBitmap& band, int top) {
            band.GetCanvas().Draw(at.X, SaturatingAdd(at.Y, -int64_t{top}), cover);
        };
        if (writer.TranscodeInBands(*reader, out, drawOnBand)) return;
        TakeDecoded(working, std::move(reader), markers);
    }
    DrawCover(working, cover, settings);
    EncodeResult(working, out, TWriteFormat::Jpeg, quality, markers);
    working.FreeImage();
}

void ComposeResult(TBitmap& working, const std::string& sourcePath, TBitmap& cover, const TCoverSettings& settings,
                   TWriteFormat format, int quality, TStream& out) {
    if (format == TWriteFormat::Jpeg) {
        ComposeJpegResult(working, sourcePath, cover, settings, quality, out);
        return;
    }
    TJPEGMarkers markers;
    LoadSource(working, sourcePath, markers);
    DrawCover(working, cover, settings);
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

void JpegTrial(TBitmap& working, int quality, const std::string& folder, const TJPEGMarkers& markers) {
    auto trial = std::make_unique<TJPEGImage>();
    trial->Assign(working);
    trial->SetSaveQuality(JpegQuality(quality));
    trial->SetMarkers(markers);
    std::string path;
    {
        TMemoryStream bytes;
        trial->SaveToStream(bytes);
        path = WriteTrialFile(folder, bytes);
    }
    TrialFile file(path);  // written: from here on it is removed however we leave
    trial->LoadFromFile(path);
    working.Assign(*trial);
}

}  // namespace vmk
