#pragma once

// The metadata segments a JPEG result carries: those of its source, made true
// of the result's own pixels.

#include "imaging/Exif.h"

namespace vmk {

// The segments to write with a result of width x height upright pixels, gray
// or colour, from the source's kept segments (in their order). EXIF says
// upright, gives the result's pixel dimensions and loses its thumbnail (which
// would show the picture unstamped); XMP says upright; Photoshop's resources
// lose their thumbnails too; an ICC profile stays
// only when it is whole and describes the result's colour space; an EXIF block
// that cannot be walked goes. Everything else is kept byte for byte.
TJPEGMarkers ResultMarkers(const TJPEGMarkers& source, int width, int height, bool gray);

// True when the ICC profile chunks among markers form one whole profile (each
// chunk of the set once) whose data colour space is "GRAY" for a gray result
// or "RGB " for a colour one. False when there are none.
bool ProfileFits(const TJPEGMarkers& markers, bool gray);

// Sets every tiff:Orientation of an XMP packet (APP1 payload) to 1, in the
// attribute form tiff:Orientation="6" and the element form
// <tiff:Orientation>6</tiff:Orientation>. The packet never grows.
void MarkXmpUpright(std::vector<uint8_t>& payload);

// Removes Photoshop's thumbnail resources from an APP13 "Photoshop 3.0"
// payload, keeping every other resource byte for byte. False when the payload
// cannot be walked as whole resources (it may then hide one).
bool DropPhotoshopThumbnails(std::vector<uint8_t>& payload);

}  // namespace vmk
