#pragma once

// Common controls beyond the standard ones.

#include "widgets/Controls.h"

namespace vmk {

// A bar that fills from Min to Max as Position grows, with "Position of Max"
// written on it.
class TProgressBar : public TWinControl {
public:
    explicit TProgressBar(TComponent* owner);

    int GetMin() const { return min_; }
    int GetMax() const { return max_; }
    int GetPosition() const { return position_; }
    void SetMin(int value);
    void SetMax(int value);
    // Kept within Min and Max.
    void SetPosition(int value);
    // The text on the bar, as shown.
    std::string GetText() const;

private:
    void Apply();
    int min_ = 0, max_ = 100, position_ = 0;
};

}  // namespace vmk
