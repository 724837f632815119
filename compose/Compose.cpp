#include "compose/Compose.h"

#include <algorithm>
#include <memory>

#include "core/FileUtils.h"
#include "core/Saturate.h"
#include "core/Streams.h"
#include "imaging/Jpeg.h"
#include "imaging/Metadata.h"

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
    auto reader = std::make_unique<TJPEGImage>();
    reader->LoadFromFile(path);
    TakeDecoded(working, std::move(reader), markers);
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
    if (saveAs == TSaveAs::BMP) return TWriteFormat::Bmp;
    if (saveAs == TSaveAs::AsIs && IsBitmapPath(sourcePath)) return TWriteFormat::Bmp;
    return TWriteFormat::Jpeg;
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
    case TSaveAs::AsIs: break;
    }
    return result + ext;
}

uint8_t JpegQuality(int value) { return static_cast<uint8_t>(std::clamp(value, 1, 100)); }

void EncodeResult(TBitmap& working, TStream& out, TWriteFormat format, int quality, const TJPEGMarkers& markers) {
    if (format == TWriteFormat::Bmp) {
        working.SaveToStream(out);
        return;
    }
    auto writer = std::make_unique<TJPEGImage>();
    writer->Assign(working);
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
    TJPEGMarkers markers;
    working.FreeImage();
    if (IsBitmapPath(sourcePath)) {
        LoadSource(working, sourcePath, markers);
    } else {
        auto reader = std::make_unique<TJPEGImage>();
        reader->LoadFromFile(sourcePath);
        // The writer EncodeResult would make, before it is given the picture.
        TJPEGImage writer;
        writer.SetSaveQuality(JpegQuality(quality));
        SetResultMarkers(writer, reader->GetMarkers(), reader->GetWidth(), reader->GetHeight());
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

std::string WriteTrialFile(const std::string& folder, const TMemoryStream& bytes) {
    for (long long n = 0;; ++n) {
        std::string name = folder + "Test" + IntToStr(n) + ".jpg";
        // Any entry of that name is taken, a folder or a dangling link too: the
        // trial file is deleted afterwards, and must never be something of the user's.
        if (bytes.SaveToNewFile(name)) return name;
    }
}

void JpegTrial(TBitmap& working, int quality, const std::string& folder, const TJPEGMarkers& markers) {
    auto trial = std::make_unique<TJPEGImage>();
    trial->Assign(working);
    trial->SetSaveQuality(JpegQuality(quality));
    SetResultMarkers(*trial, markers, working.Width(), working.Height());
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
