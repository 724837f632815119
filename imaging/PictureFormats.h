#pragma once

// The picture classes of the formats besides BMP and JPEG, registered with the
// picture holder for their extensions as TJPEGImage is.

namespace vmk {

// PNG for "png", WebP for "webp", TIFF for "tif" and "tiff", HEIF for "heic", "heif" and "avif".
void RegisterPictureFormats();
void UnregisterPictureFormats();

}  // namespace vmk
