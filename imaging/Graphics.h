#pragma once

// Pictures, bitmaps and the canvas that draws them. Pure C++: what the screen
// contributes (its colour depth) is handed in at start-up.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "core/Streams.h"

namespace vmk {

// 0x00BBGGRR: red in the low byte.
using TColor = uint32_t;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBlack = 0x000000;
constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}
constexpr uint8_t GetRValue(TColor c) { return static_cast<uint8_t>(c); }
constexpr uint8_t GetGValue(TColor c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t GetBValue(TColor c) { return static_cast<uint8_t>(c >> 16); }

class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};
class EInvalidGraphicOperation : public Exception {
public:
    using Exception::Exception;
};

// The largest picture we agree to hold, in pixels. Every size read from a file is
// checked against it before anything is allocated.
constexpr int64_t kMaxPixels = int64_t{1} << 28;

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

struct TPaletteEntry {
    uint8_t Red = 0, Green = 0, Blue = 0, Flags = 0;
    bool operator==(const TPaletteEntry&) const = default;
};
// A logical palette: at most 256 entries. Palettes are immutable values shared by
// handle; "no palette" is a null handle.
struct TLogPalette {
    std::vector<TPaletteEntry> Entries;
};
using HPALETTE = std::shared_ptr<const TLogPalette>;

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };
int BitsPerPixel(TPixelFormat format);  // 0 for pfDevice

enum class TTransparentMode { tmAuto, tmFixed };
enum class TProgressStage { psStarting, psRunning, psEnding };

class TCanvas;
class TBitmap;

// Base of every picture kind. Copies between kinds go through Assign/AssignTo.
class TGraphic {
public:
    using TNotifyEvent = std::function<void(TGraphic& sender)>;
    using TProgressEvent = std::function<void(TGraphic& sender, TProgressStage stage, uint8_t percent, bool redrawNow,
                                              const TRect& rect, const std::string& msg)>;

    TGraphic() = default;
    virtual ~TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    // A fresh, empty picture of the same class.
    virtual std::unique_ptr<TGraphic> NewInstance() const = 0;
    virtual const char* ClassName() const = 0;

    // Copies source into this picture; the base asks source.AssignTo(*this) and
    // fails with EConvertError when neither side knows how.
    virtual void Assign(TGraphic& source);
    virtual void AssignTo(TGraphic& destination);
    // Base comparison: same class and the same saved bytes.
    virtual bool Equals(TGraphic& other);

    virtual bool GetEmpty() const = 0;
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    virtual void SetWidth(int width) = 0;
    virtual void SetHeight(int height) = 0;
    virtual HPALETTE GetPalette() const { return nullptr; }
    // By value, so that a picture keeping the palette can move it in.
    virtual void SetPalette(HPALETTE) {}  // NOLINT(performance-unnecessary-value-param)
    virtual bool GetTransparent() const { return transparent_; }
    virtual void SetTransparent(bool value);

    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    // Opens the file and loads from the stream.
    void LoadFromFile(const std::string& path);
    // Writes the file whole or not at all (temporary file, then renamed over the target).
    void SaveToFile(const std::string& path);

    // The persisted form of the picture in object streaming; the base writes nothing.
    virtual void ReadData(TStream& stream);
    virtual void WriteData(TStream& stream);

    // Paints the picture into rect of canvas, stretched to it when sizes differ.
    virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;

    bool GetPaletteModified() const { return paletteModified_; }
    void SetPaletteModified(bool value) { paletteModified_ = value; }

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;

protected:
    virtual void Changed();
    void Progress(TProgressStage stage, uint8_t percent, bool redrawNow, const TRect& rect, const std::string& msg);

private:
    bool transparent_ = false;
    bool paletteModified_ = false;
};

// Device-independent bitmap in any of the BMP pixel formats. Rows are stored top
// row first, each padded to a multiple of 4 bytes; 24-bit rows hold blue, green,
// red bytes and 32-bit rows blue, green, red, unused. pf15bit is 5-5-5 and pf16bit
// 5-6-5, little-endian words. pf1bit, pf4bit and pf8bit carry a palette.
//
// Copies share the pixel raster until one of them writes to it (GetScanline, a
// canvas draw), so assigning a big bitmap costs no memory until it changes.
class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;

    std::unique_ptr<TGraphic> NewInstance() const override;
    const char* ClassName() const override { return "TBitmap"; }

    void Assign(TGraphic& source) override;  // a TBitmap is shared; other kinds AssignTo us
    bool GetEmpty() const override;
    int GetWidth() const override;
    int GetHeight() const override;
    int Width() const;
    int Height() const;
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    void SetSize(int width, int height);

    TPixelFormat GetPixelFormat() const;
    // Converts the pixels held to the new format (to a palette format: the nearest
    // palette colour; a bitmap without a palette gets a standard one).
    void SetPixelFormat(TPixelFormat format);
    HPALETTE GetPalette() const override;
    void SetPalette(HPALETTE palette) override;

    // Row y, top row 0; throws EInvalidGraphicOperation when out of range. The
    // writable form unshares the raster first.
    uint8_t* GetScanline(int y);
    const uint8_t* GetScanline(int y) const;
    int GetStride() const;  // bytes per row, padding included

    // Colour of one pixel through the palette (0x00BBGGRR); out of range gives 0.
    TColor GetPixelColor(int x, int y) const;
    // Colours of count pixels of row y from x0 on, as GetPixelColor gives them;
    // throws EInvalidGraphicOperation unless the whole span lies in the bitmap.
    void GetRowColors(int y, int x0, int count, TColor* out) const;

    // pf32bit only: whether the fourth byte of each pixel is alpha. Setting it
    // keeps the bytes; on other formats it is always false.
    bool GetAlphaChannel() const;
    void SetAlphaChannel(bool value);

    TTransparentMode GetTransparentMode() const;
    void SetTransparentMode(TTransparentMode mode);
    // The colour drawing skips when transparency is on: the bottom-left pixel's in
    // automatic mode, the fixed colour otherwise.
    TColor GetTransparentColor() const;
    void SetTransparentColor(TColor color);  // also switches to fixed mode

    // Windows BMP: every header version, bit depth and compression on read; on
    // write, the format held.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;

    void Draw(TCanvas& canvas, const TRect& rect) override;
    TCanvas& GetCanvas();

    // Frees the raster; the bitmap becomes 0 x 0 and keeps its pixel format.
    void FreeImage();

private:
    struct Image;
    std::shared_ptr<Image> image_;
    std::unique_ptr<TCanvas> canvas_;
    TTransparentMode transparentMode_ = TTransparentMode::tmAuto;
    TColor transparentColor_ = 0;
    void Unshare();
    friend class TCanvas;
};

// Drawing surface of one bitmap.
class TCanvas {
public:
    explicit TCanvas(TBitmap& owner) : owner_(owner) {}

    // Copies graphic unscaled with its top-left corner at (x, y), clipped to the
    // target, skipping its transparent colour when its transparency is on.
    // Drawing onto a palette bitmap takes the nearest palette colour.
    void Draw(int x, int y, TGraphic& graphic);
    void StretchDraw(const TRect& rect, TGraphic& graphic);
    TColor GetPixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);
    TBitmap& Owner() const { return owner_; }

private:
    TBitmap& owner_;
};

// Holds one picture of any registered kind, picking the kind by file extension.
class TPicture {
public:
    using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

    TPicture();
    ~TPicture();

    // Registers a picture class for an extension given without its dot ("jpg").
    static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                   const std::string& className, TGraphicFactory factory);
    static void UnregisterGraphicClass(const std::string& className);
    // The registered kind's description for a lower-cased extension without dot, or "".
    static std::string FileFormatDescription(const std::string& extension);

    // Loads by the file's extension; a failed load keeps the picture held before.
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path);
    // Takes a copy of source (a picture of the same class); null empties the holder.
    void Assign(TGraphic* source);

    TGraphic* GetGraphic() const { return graphic_.get(); }
    // The picture as a bitmap: an empty holder gets an empty bitmap, another kind
    // is replaced by its bitmap form.
    TBitmap& GetBitmap();
    int GetWidth() const;
    int GetHeight() const;

    std::function<void(TPicture&)> OnChange;

private:
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    std::unique_ptr<TGraphic> graphic_;
};

}  // namespace vmk
