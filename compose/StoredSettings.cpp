#include "compose/StoredSettings.h"

#include <algorithm>
#include <exception>

#include "compose/StoredChoice.h"
#include "core/Registry.h"

namespace vmk {

TCoverPlace PlaceForStored(int32_t stored) {
    return ChoiceForStored(kPlaceNames, stored, &TPlaceName::Place, kPlaceNames.front().Place);
}

TCoverPlace AnchorForStored(int32_t stored, TCoverPlace place) {
    return ChoiceForStored(kAnchorNames, stored, &TPlaceName::Place, place);
}

TCoverSizing SizingForStored(int32_t stored) {
    return ChoiceForStored(kSizingNames, stored, &TSizingName::Sizing, kSizingNames.front().Sizing);
}

TSaveAs SaveAsForStored(int32_t stored) {
    return ChoiceForStored(kFormatNames, stored, &TFormatName::SaveAs, TSaveAs::AsIs);
}

std::string ReadStoredText(TRegistry& reg, const TStoredValue<const char*>& value) {
    try {
        return reg.ReadString(value.Name);
    } catch (const std::exception&) {
        return value.Fallback;
    }
}

int32_t ReadStoredNumber(TRegistry& reg, const TStoredValue<int32_t>& value) {
    try {
        return reg.ReadInteger(value.Name);
    } catch (const std::exception&) {
        return value.Fallback;
    }
}

bool ReadStoredFlag(TRegistry& reg, const TStoredValue<bool>& value) {
    try {
        return reg.ReadBool(value.Name);
    } catch (const std::exception&) {
        return value.Fallback;
    }
}

TStoredSettings DefaultStoredSettings() {
    TStoredSettings s;
    s.Cover.CoverFile = kStoredCoverFile.Fallback;
    s.Cover.Place = PlaceForStored(kStoredPosType.Fallback);
    s.Cover.Left = kStoredCoverLeft.Fallback;
    s.Cover.Top = kStoredCoverTop.Fallback;
    s.Cover.Transparent = kStoredTransparent.Fallback;
    s.Cover.AutoDetTrans = kStoredAutoTrans.Fallback;
    s.Cover.TransColor = static_cast<TColor>(kStoredTransColor.Fallback);
    s.Cover.Place = AnchorForStored(kStoredCoverAnchor.Fallback, s.Cover.Place);
    s.Cover.MarginPercent = kStoredMarginPercent.Fallback;
    s.Cover.MarginX = kStoredMarginX.Fallback;
    s.Cover.MarginY = kStoredMarginY.Fallback;
    s.Cover.Opacity = kStoredOpacity.Fallback;
    s.Cover.Sizing = SizingForStored(kStoredCoverSize.Fallback);
    s.Cover.SizePercent = kStoredSizePercent.Fallback;
    s.Output.SaveAs = SaveAsForStored(kStoredType.Fallback);
    s.Output.Quality = kStoredJPGQ.Fallback;
    s.Output.Prefix = kStoredFixType.Fallback != 1;
    s.Output.FileFix = kStoredFileFix.Fallback;
    s.Output.Path = kStoredSavePath.Fallback;
    // Run rules
    s.Rules.Existing = ExistingForStored(kStoredExisting.Fallback);
    s.Rules.OnFailure = OnFailureForStored(kStoredOnFailure.Fallback);
    return s;
}

TStoredSettings ReadStoredSettings(TRegistry& reg) {
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.KeyExists(kSettingsKey)) return DefaultStoredSettings();
    // As the window does: whether the open succeeds is not tested; with no key
    // open every text reads as empty and every other value takes its fallback.
    reg.OpenKey(kSettingsKey, false);
    TStoredSettings s;
    s.Cover.CoverFile = ReadStoredText(reg, kStoredCoverFile);
    s.Cover.Place = PlaceForStored(ReadStoredNumber(reg, kStoredPosType));
    s.Cover.Left = ReadStoredNumber(reg, kStoredCoverLeft);
    s.Cover.Top = ReadStoredNumber(reg, kStoredCoverTop);
    s.Cover.Transparent = ReadStoredFlag(reg, kStoredTransparent);
    s.Cover.AutoDetTrans = ReadStoredFlag(reg, kStoredAutoTrans);
    s.Cover.TransColor = static_cast<TColor>(ReadStoredNumber(reg, kStoredTransColor));
    // The further settings, brought into the ranges their controls keep.
    s.Cover.Place = AnchorForStored(ReadStoredNumber(reg, kStoredCoverAnchor), s.Cover.Place);
    s.Cover.MarginPercent = ReadStoredFlag(reg, kStoredMarginPercent);
    const int marginMost = s.Cover.MarginPercent ? kMaxMarginPercent : kMaxMarginPixels;
    s.Cover.MarginX = std::clamp(ReadStoredNumber(reg, kStoredMarginX), 0, marginMost);
    s.Cover.MarginY = std::clamp(ReadStoredNumber(reg, kStoredMarginY), 0, marginMost);
    s.Cover.Opacity = std::clamp(ReadStoredNumber(reg, kStoredOpacity), 1, 100);
    s.Cover.Sizing = SizingForStored(ReadStoredNumber(reg, kStoredCoverSize));
    s.Cover.SizePercent = std::clamp(ReadStoredNumber(reg, kStoredSizePercent), 1, 100);
    s.Output.SaveAs = SaveAsForStored(ReadStoredNumber(reg, kStoredType));
    // The quality's spin edit keeps its value within its range.
    s.Output.Quality = std::clamp(ReadStoredNumber(reg, kStoredJPGQ), kMinQuality, kMaxQuality);
    s.Output.Prefix = ReadStoredNumber(reg, kStoredFixType) != 1;
    s.Output.FileFix = ReadStoredText(reg, kStoredFileFix);
    s.Output.Path = ReadStoredText(reg, kStoredSavePath);
    // Run rules
    s.Rules.Existing = ExistingForStored(ReadStoredNumber(reg, kStoredExisting));
    s.Rules.OnFailure = OnFailureForStored(ReadStoredNumber(reg, kStoredOnFailure));
    reg.CloseKey();
    return s;
}

}  // namespace vmk
