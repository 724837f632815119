#pragma once

// Small pictures built in code, the composition we expect of them, and the
// codec round trips the tests compare against.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/Streams.h"
#include "imaging/Graphics.h"
#include "imaging/Jpeg.h"

namespace vmk::test {

namespace fs = std::filesystem;

// Bitmaps are not copied; helpers hand them out like this.
using Pic = std::unique_ptr<TBitmap>;

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every file below folder, as paths relative to it, sorted.
inline std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

// A 24-bit picture of w x h whose pixel (x, y) has colour paint(x, y).
inline Pic Painted(int width, int height, const std::function<TColor(int, int)>& paint) {
    Pic out = std::make_unique<TBitmap>();
    out->SetPixelFormat(TPixelFormat::pf24bit);
    out->SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out->GetCanvas().SetPixel(x, y, paint(x, y));
    return out;
}

// A picture whose pixels cycle through colours; palette formats get exactly
// those colours as their palette, so every pixel is held exactly.
inline Pic MakePicture(TPixelFormat format, int width, int height, const std::vector<TColor>& colours, int seed = 0) {
    Pic out = Painted(width, height, [&](int x, int y) {
        return colours[static_cast<size_t>(x * 3 + y * 5 + seed) % colours.size()];
    });
    TBitmap& b = *out;
    if (BitsPerPixel(format) <= 8 && format != TPixelFormat::pfDevice) {
        auto palette = std::make_shared<TLogPalette>();
        for (TColor c : colours) palette->Entries.push_back({GetRValue(c), GetGValue(c), GetBValue(c), 0});
        b.SetPalette(palette);
    }
    b.SetPixelFormat(format);
    return out;
}

// A smooth picture that JPEG holds well.
inline Pic MakeGradient(int width, int height) {
    return Painted(width, height, [&](int x, int y) {
        return RGBColor(static_cast<uint8_t>(x * 255 / width), static_cast<uint8_t>(y * 255 / height), 128);
    });
}

// The cover of most tests: bottom-left pixel (its automatic transparent colour)
// and a diagonal band in trans, the rest in blocks of the given colours.
inline Pic MakeCover(int width, int height, TColor trans, const std::vector<TColor>& colours) {
    return Painted(width, height, [&](int x, int y) {
        const bool band = (x + y) % 4 == 0 || (x == 0 && y == height - 1);
        return band ? trans : colours[static_cast<size_t>(x / 2 + y) % colours.size()];
    });
}

// What drawing cover at (x, y) onto picture must give, pixel by pixel: the
// cover's colour where it lies on the picture and is not see-through.
inline Pic Expected(const TBitmap& picture, const TBitmap& cover, int x0, int y0, bool transparent, TColor trans) {
    Pic out = std::make_unique<TBitmap>();
    TBitmap& e = *out;
    e.SetPixelFormat(TPixelFormat::pf24bit);
    e.SetSize(picture.Width(), picture.Height());
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            TColor c = picture.GetPixelColor(x, y);
            const long long cx = static_cast<long long>(x) - x0, cy = static_cast<long long>(y) - y0;
            if (cx >= 0 && cy >= 0 && cx < cover.Width() && cy < cover.Height()) {
                const TColor k = cover.GetPixelColor(static_cast<int>(cx), static_cast<int>(cy));
                if (!transparent || k != trans) c = k;
            }
            e.GetCanvas().SetPixel(x, y, c);
        }
    return out;
}

inline void ExpectSamePixels(const TBitmap& actual, const TBitmap& expected) {
    ASSERT_EQ(actual.Width(), expected.Width());
    ASSERT_EQ(actual.Height(), expected.Height());
    int wrong = 0;
    for (int y = 0; y < expected.Height(); ++y)
        for (int x = 0; x < expected.Width(); ++x)
            if (actual.GetPixelColor(x, y) != expected.GetPixelColor(x, y) && ++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << actual.GetPixelColor(x, y)
                              << " instead of " << expected.GetPixelColor(x, y);
    EXPECT_EQ(wrong, 0);
}

// Mean absolute difference per channel.
inline double MeanError(const TBitmap& a, const TBitmap& b) {
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const TColor p = a.GetPixelColor(x, y), q = b.GetPixelColor(x, y);
            sum += std::abs(GetRValue(p) - GetRValue(q)) + std::abs(GetGValue(p) - GetGValue(q)) +
                   std::abs(GetBValue(p) - GetBValue(q));
        }
    return sum / (3.0 * a.Width() * a.Height());
}

inline Pic LoadBmp(const std::string& path) {
    Pic out = std::make_unique<TBitmap>();
    out->LoadFromFile(path);
    return out;
}

inline Pic DecodeJpeg(const std::string& path) {
    TJPEGImage j;
    j.LoadFromFile(path);
    Pic out = std::make_unique<TBitmap>();
    out->Assign(j);
    return out;
}

// The bytes a JPEG writer makes of bitmap at quality.
inline std::vector<uint8_t> EncodeJpeg(TBitmap& bitmap, int quality) {
    TJPEGImage j;
    j.Assign(bitmap);
    j.SetSaveQuality(static_cast<uint8_t>(quality));
    TMemoryStream s;
    j.SaveToStream(s);
    return s.Bytes();
}

inline Pic DecodeJpegBytes(const std::vector<uint8_t>& bytes) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    s.SetPosition(0);
    TJPEGImage j;
    j.LoadFromStream(s);
    Pic out = std::make_unique<TBitmap>();
    out->Assign(j);
    return out;
}

inline void SaveJpeg(TBitmap& bitmap, const std::string& path, int quality = 90) {
    TJPEGImage j;
    j.Assign(bitmap);
    j.SetSaveQuality(static_cast<uint8_t>(quality));
    j.SaveToFile(path);
}

}  // namespace vmk::test
