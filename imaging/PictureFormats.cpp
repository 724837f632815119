#include "imaging/PictureFormats.h"

#include "imaging/Graphics.h"
#include "imaging/HeifImage.h"
#include "imaging/PngImage.h"
#include "imaging/TiffImage.h"
#include "imaging/WebpImage.h"

namespace vmk {

void RegisterPictureFormats() {
    SilenceTiffLibrary();
    TPicture::RegisterFileFormat("png", "PNG images", "TPNGImage", [] { return std::make_unique<TPNGImage>(); });
    TPicture::RegisterFileFormat("webp", "WebP images", "TWebPImage", [] { return std::make_unique<TWebPImage>(); });
    for (const char* ext : {"tif", "tiff"})
        TPicture::RegisterFileFormat(ext, "TIFF images", "TTIFFImage", [] { return std::make_unique<TTIFFImage>(); });
    for (const char* ext : {"heic", "heif"})
        TPicture::RegisterFileFormat(ext, "HEIF images", "THEIFImage", [] { return std::make_unique<THEIFImage>(); });
    TPicture::RegisterFileFormat("avif", "AVIF images", "THEIFImage",
                                 [] { return std::make_unique<THEIFImage>(THEIFCompression::Av1); });
}

void UnregisterPictureFormats() {
    for (const char* name : {"TPNGImage", "TWebPImage", "TTIFFImage", "THEIFImage"})
        TPicture::UnregisterGraphicClass(name);
}

}  // namespace vmk
