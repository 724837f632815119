#pragma once

// The extension tests shared by the picture and cover choices.

#include <string>

namespace vmk {

// A source picture is taken when its extension, lower-cased, is ".bmp", ".jpg"
// or ".jpeg".
bool IsAcceptedSourceExt(const std::string& ext);

// The message for a refused extension, shown as written in the path.
std::string InvalidExtensionMessage(const std::string& ext);

}  // namespace vmk
