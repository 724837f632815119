#pragma once

// The user's saved choices as the settings store keeps them: the key, each
// value's name and its fallback, the numbers stored for the position and the
// format, and how a store becomes the settings of the composing steps. The
// window loads its controls from the same names and fallbacks; the command
// line reads a store straight into the settings.

#include <array>
#include <climits>
#include <cstdint>
#include <string>

#include "compose/Compose.h"
#include "compose/RunRules.h"

namespace vmk {

class TRegistry;

inline constexpr const char* kSettingsKey = "\\Software\\Quorvex\\VMK";

// A stored value: its name and what takes its place when it cannot be read.
// A new setting gets one here, a line in ReadStoredSettings and in
// DefaultStoredSettings, and its option row in cli/Options.cpp; a new place or
// format is one row of its table below.
template <class T>
struct TStoredValue {
    const char* Name;
    T Fallback;
};

inline constexpr TStoredValue<const char*> kStoredCoverFile{"CoverFile", ""};
inline constexpr TStoredValue<int32_t> kStoredPosType{"PosType", 0};
inline constexpr TStoredValue<int32_t> kStoredCoverLeft{"CoverLeft", 0};
inline constexpr TStoredValue<int32_t> kStoredCoverTop{"CoverTop", 0};
inline constexpr TStoredValue<bool> kStoredTransparent{"Transparent", true};
inline constexpr TStoredValue<bool> kStoredAutoTrans{"AutoTrans", true};
inline constexpr TStoredValue<int32_t> kStoredTransColor{"TransColor", static_cast<int32_t>(clWhite)};
inline constexpr TStoredValue<int32_t> kStoredType{"Type", 2};
inline constexpr TStoredValue<int32_t> kStoredJPGQ{"JPGQ", kDefaultQuality};
inline constexpr TStoredValue<int32_t> kStoredFixType{"FixType", 0};
inline constexpr TStoredValue<const char*> kStoredFileFix{"FileFix", kDefaultFileFix};
inline constexpr TStoredValue<const char*> kStoredSavePath{"SavePath", ""};
// The cover's further place (1 TC, 2 BC, 3 LM, 4 RM, 5 CC; 0: PosType holds),
// margins, opacity and size (0 as it is, 1 width, 2 height, 3 shorter side).
inline constexpr TStoredValue<int32_t> kStoredCoverAnchor{"CoverAnchor", 0};
inline constexpr TStoredValue<bool> kStoredMarginPercent{"MarginPercent", false};
inline constexpr TStoredValue<int32_t> kStoredMarginX{"MarginX", 0};
inline constexpr TStoredValue<int32_t> kStoredMarginY{"MarginY", 0};
inline constexpr TStoredValue<int32_t> kStoredOpacity{"Opacity", 100};
inline constexpr TStoredValue<int32_t> kStoredCoverSize{"CoverSize", 0};
inline constexpr TStoredValue<int32_t> kStoredSizePercent{"SizePercent", 20};
// Whole folders: whether "Add Folder" takes subfolders too, and whether their
// results go into the same subfolders under the output folder.
inline constexpr TStoredValue<bool> kStoredSubfolders{"Subfolders", false};
inline constexpr TStoredValue<bool> kStoredKeepSubfolders{"KeepSubfolders", true};
// The window as the user left it: its outer bounds (left and top at
// kWindowCentred: centred), whether it was maximised, and the page shown.
// Only the window reads them.
inline constexpr int32_t kWindowCentred = INT32_MIN;
inline constexpr TStoredValue<int32_t> kStoredWindowLeft{"WindowLeft", kWindowCentred};
inline constexpr TStoredValue<int32_t> kStoredWindowTop{"WindowTop", kWindowCentred};
inline constexpr TStoredValue<int32_t> kStoredWindowWidth{"WindowWidth", 600};
inline constexpr TStoredValue<int32_t> kStoredWindowHeight{"WindowHeight", 400};
inline constexpr TStoredValue<bool> kStoredWindowMaximized{"WindowMaximized", false};
inline constexpr TStoredValue<int32_t> kStoredWindowPage{"WindowPage", 0};

// Run rules: what a taken result name does and whether a failure ends the run
// (the numbers of kExistingNames and kOnFailureNames).
inline constexpr TStoredValue<int32_t> kStoredExisting{"Existing", 0};
inline constexpr TStoredValue<int32_t> kStoredOnFailure{"OnFailure", 0};

// The JPEG quality's range, as the window's spin edit keeps it.
inline constexpr int kMinQuality = 1;
inline constexpr int kMaxQuality = 100;

// Each place the cover can go: its name on a command line, the number the
// store keeps. A stored number that names none of them means the first.
struct TPlaceName {
    const char* Name;
    int32_t Stored;
    TCoverPlace Place;
};
inline constexpr std::array<TPlaceName, 5> kPlaceNames = {{
    {"lt", 0, TCoverPlace::LT},
    {"lb", 1, TCoverPlace::LB},
    {"rt", 2, TCoverPlace::RT},
    {"rb", 3, TCoverPlace::RB},
    {"other", 4, TCoverPlace::Other},
}};
// The further places, kept under CoverAnchor; a number that names none of
// them (0 among them) leaves the place PosType gives.
inline constexpr std::array<TPlaceName, 5> kAnchorNames = {{
    {"tc", 1, TCoverPlace::TC},
    {"bc", 2, TCoverPlace::BC},
    {"lm", 3, TCoverPlace::LM},
    {"rm", 4, TCoverPlace::RM},
    {"cc", 5, TCoverPlace::CC},
}};

// Which side the cover's size follows. A stored number that names none of
// them means the first.
struct TSizingName {
    const char* Name;
    int32_t Stored;
    TCoverSizing Sizing;
};
inline constexpr std::array<TSizingName, 4> kSizingNames = {{
    {"as-is", 0, TCoverSizing::AsIs},
    {"width", 1, TCoverSizing::Width},
    {"height", 2, TCoverSizing::Height},
    {"shorter", 3, TCoverSizing::Shorter},
}};

// Each save format the same way, in the order the window asks its buttons
// when it saves. A stored number that names none of them means as-is.
struct TFormatName {
    const char* Name;
    int32_t Stored;
    TSaveAs SaveAs;
};
inline constexpr std::array<TFormatName, 6> kFormatNames = {{
    {"bmp", 0, TSaveAs::BMP},
    {"jpg", 1, TSaveAs::JPG},
    {"as-is", 2, TSaveAs::AsIs},
    {"png", 3, TSaveAs::PNG},
    {"webp", 4, TSaveAs::WEBP},
    {"tiff", 5, TSaveAs::TIFF},
}};

TCoverPlace PlaceForStored(int32_t stored);
// The place a stored CoverAnchor gives, or `place` when it names none.
TCoverPlace AnchorForStored(int32_t stored, TCoverPlace place);
TCoverSizing SizingForStored(int32_t stored);
TSaveAs SaveAsForStored(int32_t stored);
// The margins' largest value, in % or in pixels.
inline constexpr int kMaxMarginPercent = 100;
inline constexpr int kMaxMarginPixels = 99999;

// Each value is read on its own: whatever makes a read fail, the value's
// fallback takes its place and the reading goes on with the next one.
std::string ReadStoredText(TRegistry& reg, const TStoredValue<const char*>& value);
int32_t ReadStoredNumber(TRegistry& reg, const TStoredValue<int32_t>& value);
bool ReadStoredFlag(TRegistry& reg, const TStoredValue<bool>& value);

struct TStoredSettings {
    TCoverSettings Cover;
    TOutputSettings Output;
    TRunRules Rules;
};

// The settings a store holds, as the window would show them after loading it:
// a missing key gives every fallback (the window's first start), a value the
// window's controls would not keep is changed as they change it.
TStoredSettings ReadStoredSettings(TRegistry& reg);
// The settings with nothing stored at all.
TStoredSettings DefaultStoredSettings();

}  // namespace vmk
