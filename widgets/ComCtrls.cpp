#include "widgets/ComCtrls.h"

#include <QProgressBar>
#include <algorithm>

#include "widgets/QtSupport.h"

namespace vmk {

TProgressBar::TProgressBar(TComponent* owner) : TWinControl(owner, new QProgressBar) {
    auto* bar = static_cast<QProgressBar*>(GetWidget());
    bar->setAlignment(Qt::AlignCenter);
    bar->setTextVisible(true);
    bar->setFormat(QStringLiteral("%v of %m"));
    Apply();
}

void TProgressBar::SetMin(int value) {
    min_ = value;
    max_ = std::max(max_, min_);
    Apply();
}

void TProgressBar::SetMax(int value) {
    max_ = value;
    min_ = std::min(min_, max_);
    Apply();
}

void TProgressBar::SetPosition(int value) {
    position_ = value;
    Apply();
}

std::string TProgressBar::GetText() const {
    if (auto* bar = static_cast<QProgressBar*>(GetWidget())) return FromQ(bar->text());
    return "";
}

void TProgressBar::Apply() {
    position_ = std::clamp(position_, min_, max_);
    if (auto* bar = static_cast<QProgressBar*>(GetWidget())) {
        bar->setRange(min_, max_);
        bar->setValue(position_);
    }
}

}  // namespace vmk
