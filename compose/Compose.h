#pragma once

// The composing steps that the batch run and the save preview share: which
// sources we take, how the cover is prepared and placed, how a source becomes
// the working bitmap, where and in which format a result is written. No
// widgets here: the handlers read the controls into the settings below, so
// tests and benchmarks can drive the same steps.

#include <cstdint>
#include <functional>
#include <string>

#include "core/Streams.h"
#include "imaging/Exif.h"
#include "imaging/Graphics.h"
#include "imaging/JpegReader.h"

namespace vmk {

// Which position button is checked; None when no button is (the cover then
// goes to the top-left corner). TC, BC: top and bottom centre; LM, RM: middle
// left and right; CC: centre.
enum class TCoverPlace { None, LT, LB, RT, RB, Other, TC, BC, LM, RM, CC };

// Which side of the picture the cover's size follows, if any.
enum class TCoverSizing { AsIs, Width, Height, Shorter };

struct TCoverSettings {
    std::string CoverFile;
    bool AutoDetTrans = true;
    TColor TransColor = clWhite;
    bool Transparent = false;
    TCoverPlace Place = TCoverPlace::None;
    int Left = 0;  // the offset used with TCoverPlace::Other, taken as it stands
    int Top = 0;
    // Distance from the edges of the anchor, in pixels or in % of the
    // picture's width (X) and height (Y); not used on a centred axis nor with
    // TCoverPlace::Other or None.
    int MarginX = 0;
    int MarginY = 0;
    bool MarginPercent = false;
    int Opacity = 100;  // 1 to 100
    TCoverSizing Sizing = TCoverSizing::AsIs;
    int SizePercent = 20;  // 1 to 100, with any sizing but AsIs
    bool operator==(const TCoverSettings&) const = default;
};

// Which of BMP, JPG, AsIs, PNG, WEBP and TIFF is checked.
enum class TSaveAs { BMP, JPG, AsIs, PNG, WEBP, TIFF };
// The format a result is actually written in. WebPLossless: a lossless WebP
// source written as it is stays lossless.
enum class TWriteFormat { Bmp, Jpeg, Png, WebP, WebPLossless, Tiff, Heic, Avif };

// What a first start shows, and what a stored value that cannot be read gives.
inline constexpr int kDefaultQuality = 85;
inline constexpr const char* kDefaultFileFix = "VMK_";

struct TOutputSettings {
    std::string Path;  // the output folder as typed; empty: beside each source
    bool Prefix = true;
    std::string FileFix;
    TSaveAs SaveAs = TSaveAs::BMP;
    int Quality = kDefaultQuality;
    bool operator==(const TOutputSettings&) const = default;
};

struct TCoverPosition {
    int X = 0;
    int Y = 0;
    bool operator==(const TCoverPosition&) const = default;
};

// Reads a cover file: PNG (any kind, its alpha kept) by a ".png" extension,
// otherwise BMP. A PNG that cannot be read fails naming the file.
void LoadCoverFile(TBitmap& cover, const std::string& path);
// Whether the path names a cover by its extension: ".bmp" or ".png", any case.
bool IsCoverPath(const std::string& path);
// Loads the cover file and gives the cover bitmap its transparency.
void PrepareCover(TBitmap& cover, const TCoverSettings& settings);
// The transparency part alone: automatic or fixed colour, then on or off.
void ApplyCoverTransparency(TBitmap& cover, const TCoverSettings& settings);

// Replaces the working bitmap with the source picture (chosen by its
// extension, which must pass IsPicturePath) and switches its own
// transparency off. The source file is read whole before this returns.
void LoadSource(TBitmap& working, const std::string& path);
// The same, also handing out the metadata segments a JPEG result keeps from a
// JPEG source (EXIF marked upright, ICC, XMP, IPTC, comments); none for BMP.
void LoadSource(TBitmap& working, const std::string& path, TJPEGMarkers& markers);

// Top-left corner of the cover on a picture of pictureW x pictureH, for a cover
// of coverW x coverH (as drawn, after any scaling). Signed: a cover larger than
// the picture gives a negative corner; offsets are used unchecked. Margins push
// the cover away from its anchor's edges; a centred axis takes (W - w) / 2,
// rounded down.
TCoverPosition CoverPlacement(const TCoverSettings& settings, int pictureW, int pictureH, int coverW, int coverH);

// Draws the prepared cover onto the working bitmap at its place, at its size
// and strength (see TCoverCache, which a run shares between its workers).
void DrawCover(TBitmap& working, TBitmap& cover, const TCoverSettings& settings);

// The checked format; with AsIs the source's own, by its extension (a WebP
// source's chunk headers tell whether it is lossless), JPEG for any other.
TWriteFormat WriteFormatFor(TSaveAs saveAs, const std::string& sourcePath);
// Lossy formats take the quality; the others ignore it.
bool IsLossyFormat(TWriteFormat format);

// The folder a source's result goes to, ending in "/": beside the source when
// the path text is empty; otherwise the text (a "/" added when it lacks one),
// "~" and "~/..." taken in the home folder, another relative text inside
// baseFolder (see RelativeOutputBase).
std::string OutputFolder(const std::string& pathText, const std::string& sourcePath, const std::string& baseFolder);
// Where a relative output folder lies: the program's own folder when it can be
// written, else the user's home folder (an installed copy's folder is not ours).
std::string RelativeOutputBase(const std::string& appFolder);
// Where the save preview's trial file goes: the program's own folder when it
// can be written, else the user's runtime folder.
std::string TrialFolder(const std::string& appFolder);
// Refuses a fix text that holds a "/": it would carry every result out of
// its folder (a fix "../x_" writes beside the chosen folder, not in it).
void CheckFileFix(const std::string& fix);
// Fix text and base name, then ".bmp", ".jpg", ".png", ".webp", ".tif" or the
// source's own extension.
std::string OutputFileName(const std::string& sourcePath, const TOutputSettings& settings);

// The JPEG writer's quality for a spin-edit value: one byte, within 1 to 100.
uint8_t JpegQuality(int value);

// Writes the working bitmap to path as BMP, or in the other formats at the
// quality (the lossy ones) with the source's metadata where the format holds
// it. The file is replaced whole or not at all.
void WriteResult(TBitmap& working, const std::string& path, TWriteFormat format, int quality,
                 const TJPEGMarkers& markers = {});
// The bytes WriteResult puts in the file, into a stream of the caller's: the
// batch run compresses on its workers and writes the files in list order.
void EncodeResult(TBitmap& working, TStream& out, TWriteFormat format, int quality, const TJPEGMarkers& markers = {});

// A JPEG result of one source, whole: the bytes of LoadSource, DrawCover and
// EncodeResult, working through the source a band of rows at a time where the
// picture allows (a JPEG of plain colour rows that need no turning), so that
// each worker of a run keeps a band rather than a picture in its caches and
// memory. Any other source goes through the working bitmap, freed afterwards.
// After a failure out may hold the first part of the bytes: never write them.
void ComposeJpegResult(TBitmap& working, const std::string& sourcePath, TBitmap& cover, const TCoverSettings& settings,
                       int quality, TStream& out);
class TCoverCache;
void ComposeJpegResult(TBitmap& working, const std::string& sourcePath, TCoverCache& cover, int quality, TStream& out);

// A result of one source in any format but BMP: ComposeJpegResult for JPEG;
// the others load the source, draw the cover and encode, then free the
// working bitmap. After a failure out may hold part of the bytes.
void ComposeResult(TBitmap& working, const std::string& sourcePath, TCoverCache& cover, TWriteFormat format,
                   int quality, TStream& out);

// The JPEG trial of the save preview: compresses the working bitmap at the
// quality into "Test" + n + ".jpg" in folder (the first free n), reads it back
// into the working bitmap and deletes the file, also when reading it back fails.
// The markers go in as the run writes them, so the trial is the result's twin.
// reduce: the scale it is read back at (a fitted preview needs no more).
void JpegTrial(TBitmap& working, int quality, const std::string& folder, const TJPEGMarkers& markers = {},
               TJPEGReduceBy reduce = TJPEGReduceBy::ReduceNone);

// The JPEG trial made from the source itself: the bytes the run writes for it
// (ComposeJpegResult, a band of rows at a time where the picture allows, so that
// no whole picture is held), written and read back as JpegTrial does, at the
// scale scaleFor picks for the result's whole width and height. A failure while
// the result is made names the source.
void JpegResultTrial(TBitmap& working, const std::string& sourcePath, TCoverCache& cover, int quality,
                     const std::string& folder, const std::function<TJPEGReduceBy(int width, int height)>& scaleFor);

// The trial of the lossy formats besides JPEG (WebP, HEIC, AVIF): the
// result's bytes made in memory and read back into the working bitmap.
// TIFF and lossless WebP come back as they went; BMP, JPEG and PNG are refused.
void ResultTrial(TBitmap& working, TWriteFormat format, int quality, const TJPEGMarkers& markers = {});

// Writes bytes to a new "Test" + n + ".jpg" in folder, the first n whose name
// nothing has (made exclusively, so that two programs previewing at once never
// share a file), and returns its path.
std::string WriteTrialFile(const std::string& folder, const TMemoryStream& bytes);

}  // namespace vmk
