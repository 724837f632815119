#include "imaging/BmpCodec.h"

namespace vmk::bmp {

void ReadBmp(TStream&, detail::Raster&) { throw EInvalidGraphic("BMP reading is not available yet"); }
void WriteBmp(TStream&, const detail::Raster&) { throw EInvalidGraphic("BMP writing is not available yet"); }

}  // namespace vmk::bmp
