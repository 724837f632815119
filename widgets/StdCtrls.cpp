#include "widgets/StdCtrls.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <vector>

#include "core/Exception.h"
#include "core/StringList.h"
#include "widgets/Forms.h"
#include "widgets/Keys.h"
#include "widgets/QtSupport.h"

namespace vmk {

// ---- TButton

TButton::TButton(TComponent* owner) : TButton(owner, new QPushButton) {}

TButton::TButton(TComponent* owner, QWidget* widget) : TWinControl(owner, widget) { Init(); }

void TButton::Init() {
    auto* button = static_cast<QPushButton*>(GetWidget());
    button->setAutoDefault(false);
    QObject::connect(button, &QPushButton::clicked, button, [this] { Click(); });
}

void TButton::SetCaption(const std::string& value) {
    caption_ = value;
    if (auto* button = static_cast<QPushButton*>(GetWidget())) button->setText(CaptionToQ(value));
}

void TButton::SetDefault(bool value) {
    default_ = value;
    // Qt draws a default frame; the Enter key itself is handled by the form.
    if (auto* button = static_cast<QPushButton*>(GetWidget())) button->setDefault(value);
}

void TButton::Click() {
    Dispatch([this] {
        if (OnClick) OnClick(this);
    });
}

void TButton::FontChanged() {}

TBitBtn::TBitBtn(TComponent* owner) : TButton(owner) {}

// ---- check boxes and radio buttons

TButtonControl::TButtonControl(TComponent* owner, QWidget* widget) : TWinControl(owner, widget) {}

void TButtonControl::SetCaption(const std::string& value) {
    caption_ = value;
    if (auto* b = static_cast<QAbstractButton*>(GetWidget())) b->setText(CaptionToQ(value));
}

void TButtonControl::ShowChecked(bool value) {
    if (auto* b = static_cast<QAbstractButton*>(GetWidget())) {
        const bool blocked = b->blockSignals(true);
        b->setChecked(value);
        b->blockSignals(blocked);
    }
}

TCheckBox::TCheckBox(TComponent* owner) : TButtonControl(owner, new QCheckBox) {
    auto* box = static_cast<QCheckBox*>(GetWidget());
    // Qt has already toggled the box when clicked arrives; put it back and let
    // the one path below make the change.
    QObject::connect(box, &QCheckBox::clicked, box, [this] {
        ShowChecked(checked_);
        Click();
    });
}

void TCheckBox::SetChecked(bool value) {
    if (checked_ == value) return;
    checked_ = value;
    ShowChecked(value);
    if (OnClick) OnClick(this);
}

void TCheckBox::Click() {
    Dispatch([this] { SetChecked(!checked_); });
}

TRadioButton::TRadioButton(TComponent* owner) : TButtonControl(owner, new QRadioButton) {
    auto* button = static_cast<QRadioButton*>(GetWidget());
    button->setAutoExclusive(false);  // the group is ours: see SetChecked
    QObject::connect(button, &QRadioButton::clicked, button, [this] {
        ShowChecked(checked_);
        Click();
    });
}

void TRadioButton::SetChecked(bool value) {
    if (checked_ == value) return;
    checked_ = value;
    ShowChecked(value);
    TWinControl* parent = GetParent();
    if (value && parent) {
        for (int i = 0; i < parent->GetControlCount(); ++i) {
            auto* sibling = dynamic_cast<TRadioButton*>(parent->GetControl(i));
            if (sibling && sibling != this && sibling->checked_) {
                sibling->checked_ = false;
                sibling->ShowChecked(false);
            }
        }
    }
    if (parent) parent->UpdateRadioStops();
    if (value && OnClick) OnClick(this);
}

bool TRadioButton::HandleEvent(QObject* target, QEvent* event) {
    TWinControl* parent = GetParent();
    if (event->type() != QEvent::KeyPress || target != GetWidget() || !parent)
        return TButtonControl::HandleEvent(target, event);
    auto* ke = static_cast<QKeyEvent*>(event);
    int step = 0;
    if (ke->modifiers() == Qt::NoModifier || ke->modifiers() == Qt::KeypadModifier) {
        if (ke->key() == Qt::Key_Down || ke->key() == Qt::Key_Right) step = 1;
        if (ke->key() == Qt::Key_Up || ke->key() == Qt::Key_Left) step = -1;
    }
    if (step == 0) return TButtonControl::HandleEvent(target, event);
    std::vector<TRadioButton*> group;
    for (int i = 0; i < parent->GetControlCount(); ++i)
        if (auto* r = dynamic_cast<TRadioButton*>(parent->GetControl(i))) group.push_back(r);
    std::stable_sort(group.begin(), group.end(),
                     [](TRadioButton* a, TRadioButton* b) { return a->GetTabOrder() < b->GetTabOrder(); });
    const auto self = std::find(group.begin(), group.end(), this);
    const auto n = static_cast<std::ptrdiff_t>(group.size());
    // Round the group, past buttons that cannot take the focus, as far as back here.
    for (std::ptrdiff_t k = 1; k < n; ++k) {
        const std::ptrdiff_t at = ((self - group.begin()) + step * k % n + n) % n;
        TRadioButton* next = group[static_cast<size_t>(at)];
        if (!next->CanFocus()) continue;
        next->SetFocus();
        next->Click();
        break;
    }
    return true;
}

void TRadioButton::Click() {
    Dispatch([this] { SetChecked(true); });
}

// ---- edits

TCustomEdit::TCustomEdit(TComponent* owner, QWidget* widget)
    : TWinControl(owner, widget),
      edit_(qobject_cast<QLineEdit*>(widget) ? static_cast<QLineEdit*>(widget) : widget->findChild<QLineEdit*>()) {
    if (edit_ != widget) WatchChild(edit_);
    QObject::connect(edit_, &QLineEdit::textChanged, edit_, [this] {
        if (!settingText_) TextEdited();
    });
}

std::string TCustomEdit::GetText() const {
    if (!GetLineEdit()) return lastText_;
    // A text set from code may hold bytes that are not UTF-8 (a file name may be
    // any bytes): while the box still shows it, those bytes are the text.
    const QString shown = edit_->text();
    if (shown == ToQ(lastText_)) return lastText_;
    return FromQ(shown);
}

void TCustomEdit::SetText(const std::string& value) {
    if (!GetLineEdit() || value == GetText()) return;
    settingText_ = true;
    edit_->setText(ToQ(value));
    settingText_ = false;
    lastText_ = value;
    if (OnChange) OnChange(this);
}

void TCustomEdit::TextEdited() {
    std::string now = GetText();
    if (now == lastText_) return;
    lastText_ = std::move(now);
    Dispatch([this] {
        if (OnChange) OnChange(this);
    });
}

bool TCustomEdit::GetReadOnly() const { return GetLineEdit() && edit_->isReadOnly(); }

void TCustomEdit::SetReadOnly(bool value) {
    if (GetLineEdit()) edit_->setReadOnly(value);
}

void TCustomEdit::SelectAll() {
    if (GetLineEdit()) edit_->selectAll();
}

bool TCustomEdit::HandleEvent(QObject* target, QEvent* event) {
    if (GetLineEdit() && target == edit_ &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        auto* ke = static_cast<QKeyEvent*>(event);
        const uint16_t vk = VirtualKeyFromQt(ke->key(), ke->modifiers().toInt());
        const TShiftState shift = ShiftFromQt(ke->modifiers().toInt(), 0);
        uint16_t key = vk;
        if (event->type() == QEvent::KeyRelease) {
            if (ke->isAutoRepeat()) return false;
            if (OnKeyUp && !Dispatch([&] { OnKeyUp(this, key, shift); })) return true;
            return vk != 0 && key == 0;
        }
        // The handler goes first: what it decides (read-only, say) governs this key.
        if (OnKeyDown && !Dispatch([&] { OnKeyDown(this, key, shift); })) return true;
        if (vk != 0 && key == 0) return true;
        if (OwnKeyDown(key)) return true;
        const QString text = ke->text();
        if (!text.isEmpty() && text.at(0).isPrint() && !(ke->modifiers() & Qt::ControlModifier)) {
            for (char32_t c : text.toUcs4())
                if (!AcceptsChar(c)) return true;
        }
        return false;
    }
    return TWinControl::HandleEvent(target, event);
}

TEdit::TEdit(TComponent* owner) : TCustomEdit(owner, new QLineEdit) {}

// ---- list box

namespace {
QListWidget* ListOf(const TListBox& box) { return static_cast<QListWidget*>(box.GetWidget()); }
}  // namespace

int TListItems::GetCount() const {
    QListWidget* list = ListOf(owner_);
    return list ? list->count() : 0;
}

std::string TListItems::Get(int index) const {
    CheckListIndex(index, GetCount());
    return FromQ(ListOf(owner_)->item(index)->text());
}

int TListItems::Add(const std::string& text) {
    QListWidget* list = ListOf(owner_);
    if (!list) return -1;
    owner_.settingIndex_ = true;
    auto* item = new QListWidgetItem(ToQ(text));
    item->setSizeHint(QSize(0, ScaledPixels(owner_.itemHeight_)));
    list->addItem(item);
    owner_.settingIndex_ = false;
    return list->count() - 1;
}

void TListItems::AddStrings(const std::vector<std::string>& texts, const std::vector<std::string>& hints) {
    QListWidget* list = ListOf(owner_);
    if (!list || texts.empty()) return;
    owner_.settingIndex_ = true;
    list->setUpdatesEnabled(false);
    for (size_t i = 0; i < texts.size(); ++i) {
        auto* item = new QListWidgetItem(ToQ(texts[i]));
        item->setSizeHint(QSize(0, owner_.itemHeight_));
        if (i < hints.size()) item->setToolTip(ToQ(hints[i]));
        list->addItem(item);
    }
    list->setUpdatesEnabled(true);
    owner_.settingIndex_ = false;
}

void TListItems::Delete(int index) {
    CheckListIndex(index, GetCount());
    QListWidget* list = ListOf(owner_);
    const int selected = owner_.GetItemIndex();
    owner_.settingIndex_ = true;
    delete list->takeItem(index);
    owner_.settingIndex_ = false;
    // The selection stays on its line; the deleted line's selection goes.
    owner_.SetItemIndex(selected == index ? -1 : (selected > index ? selected - 1 : selected));
}

void TListItems::Clear() {
    if (QListWidget* list = ListOf(owner_)) {
        owner_.settingIndex_ = true;
        list->clear();
        owner_.settingIndex_ = false;
    }
}

int TListItems::IndexOf(const std::string& text) const {
    for (int i = 0; i < GetCount(); ++i)
        if (Get(i) == text) return i;
    return -1;
}

std::vector<std::string> TListItems::ToVector() const {
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(GetCount()));
    for (int i = 0; i < GetCount(); ++i) out.push_back(Get(i));
    return out;
}

std::string TListItems::GetHint(int index) const {
    CheckListIndex(index, GetCount());
    return FromQ(ListOf(owner_)->item(index)->toolTip());
}

void TListItems::SetHint(int index, const std::string& hint) {
    CheckListIndex(index, GetCount());
    ListOf(owner_)->item(index)->setToolTip(ToQ(hint));
}

TListBox::TListBox(TComponent* owner) : TWinControl(owner, new QListWidget), items_(*this) {
    QListWidget* list = ListOf(*this);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);
    WatchChild(list->viewport());
    // A mouse press moves the current row before it selects it, so the current
    // row alone would report a click while nothing is selected yet: the handler
    // runs once the selection has settled, and only on a selected line.
    QObject::connect(list, &QListWidget::itemSelectionChanged, list, [this] {
        if (settingIndex_ || GetItemIndex() < 0) return;
        Dispatch([this] {
            if (OnClick) OnClick(this);
        });
    });
}

int TListBox::GetItemIndex() const {
    QListWidget* list = ListOf(*this);
    if (!list) return -1;
    const int row = list->currentRow();
    if (row < 0 || !list->item(row) || !list->item(row)->isSelected()) return -1;
    return row;
}

void TListBox::SetItemIndex(int index) {
    QListWidget* list = ListOf(*this);
    if (!list) return;
    settingIndex_ = true;
    if (index < 0 || index >= list->count()) {
        list->clearSelection();
        list->setCurrentRow(-1);
    } else {
        list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    }
    settingIndex_ = false;
}

void TListBox::SetMultiSelect(bool value) {
    multiSelect_ = value;
    if (QListWidget* list = ListOf(*this))
        list->setSelectionMode(value ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

std::vector<int> TListBox::GetSelectedIndices() const {
    std::vector<int> out;
    QListWidget* list = ListOf(*this);
    if (!list) return out;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected()) out.push_back(i);
    return out;
}

void TListBox::SetSelected(int index, bool value) {
    QListWidget* list = ListOf(*this);
    if (!list || index < 0 || index >= list->count()) return;
    settingIndex_ = true;
    if (multiSelect_)
        list->item(index)->setSelected(value);
    else
        SetItemIndex(value ? index : (index == GetItemIndex() ? -1 : GetItemIndex()));
    settingIndex_ = false;
}

void TListBox::SetItemHeight(int value) {
    itemHeight_ = value;
    if (QListWidget* list = ListOf(*this))
        for (int i = 0; i < list->count(); ++i) list->item(i)->setSizeHint(QSize(0, ScaledPixels(value)));
}

void TListBox::SelectByUser(int index) {
    QListWidget* list = ListOf(*this);
    if (!list) return;
    if (index == GetItemIndex()) {
        // Clicking the selected line again still reports a click.
        Dispatch([this] {
            if (OnClick) OnClick(this);
        });
        return;
    }
    list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

bool TListBox::HandleEvent(QObject* target, QEvent* event) {
    QListWidget* list = ListOf(*this);
    if (list && target == list && event->type() == QEvent::KeyPress && OnKeyDown) {
        auto* ke = static_cast<QKeyEvent*>(event);
        const uint16_t vk = VirtualKeyFromQt(ke->key(), ke->modifiers().toInt());
        uint16_t key = vk;
        const TShiftState shift = ShiftFromQt(ke->modifiers().toInt(), 0);
        if (!Dispatch([&] { OnKeyDown(this, key, shift); })) return true;
        // A handler that clears the key has taken it.
        if (vk != 0 && key == 0) return true;
    }
    if (list && target == list->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            rowAtPress_ = GetItemIndex();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            auto* me = static_cast<QMouseEvent*>(event);
            const int row = list->row(list->itemAt(me->position().toPoint()));
            if (row >= 0 && row == rowAtPress_ && row == GetItemIndex())
                Dispatch([this] {
                    if (OnClick) OnClick(this);
                });
            rowAtPress_ = -2;
        }
    }
    return TWinControl::HandleEvent(target, event);
}

// ---- labels

TLabel::TLabel(TComponent* owner) : TLabel(owner, new QLabel) {}

TLabel::TLabel(TComponent* owner, QWidget* widget) : TControl(owner, widget) {
    auto* label = static_cast<QLabel*>(widget);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void TLabel::SetCaption(const std::string& value) {
    caption_ = value;
    if (auto* label = static_cast<QLabel*>(GetWidget())) label->setText(CaptionToQ(value));
    Refit();
}

void TLabel::SetFocusControl(TWinControl* control) {
    if (auto* label = static_cast<QLabel*>(GetWidget())) label->setBuddy(control ? control->GetWidget() : nullptr);
}

void TLabel::SetAlignment(TAlignment value) {
    alignment_ = value;
    Qt::Alignment a = Qt::AlignLeft;
    if (value == TAlignment::taCenter) a = Qt::AlignHCenter;
    if (value == TAlignment::taRightJustify) a = Qt::AlignRight;
    if (auto* label = static_cast<QLabel*>(GetWidget())) label->setAlignment(a | Qt::AlignTop);
}

void TLabel::SetAutoSize(bool value) {
    autoSize_ = value;
    Refit();
}

void TLabel::SetWordWrap(bool value) {
    wordWrap_ = value;
    if (auto* label = static_cast<QLabel*>(GetWidget())) label->setWordWrap(value);
    Refit();
}

void TLabel::FontChanged() { Refit(); }

void TLabel::Refit() {
    auto* label = static_cast<QLabel*>(GetWidget());
    if (!label) return;
    if (!autoSize_ || wordWrap_) {
        ApplyBounds();
        return;
    }
    const QSize hint = label->sizeHint();
    SetBounds(GetLeft(), GetTop(), hint.width(), hint.height());
}

void TLabel::ApplyBounds() {
    QWidget* label = GetWidget();
    if (!label) return;
    // A wrapped text that needs a few more lines than the label was laid out
    // for (a face wider than the one it was laid out in) shows them all
    // rather than lose its end.
    int height = GetHeight();
    if (wordWrap_) height = std::max(height, label->heightForWidth(GetWidth()));
    label->setGeometry(GetLeft(), GetTop(), GetWidth(), height);
}

TStaticText::TStaticText(TComponent* owner) : TWinControl(owner, new QLabel) {
    auto* label = static_cast<QLabel*>(GetWidget());
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
}

void TStaticText::SetCaption(const std::string& value) {
    caption_ = value;
    if (auto* label = static_cast<QLabel*>(GetWidget())) label->setText(CaptionToQ(value));
    Refit();
}

void TStaticText::SetAutoSize(bool value) {
    autoSize_ = value;
    Refit();
}

void TStaticText::FontChanged() { Refit(); }

void TStaticText::Refit() {
    auto* label = static_cast<QLabel*>(GetWidget());
    if (!label || !autoSize_) return;
    label->setWordWrap(false);
    const QSize hint = label->sizeHint();
    label->setWordWrap(true);
    SetBounds(GetLeft(), GetTop(), hint.width(), hint.height());
}

}  // namespace vmk
