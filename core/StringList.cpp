#include "core/StringList.h"

#include "core/Exception.h"

namespace vmk {

void CheckListIndex(int index, int limit) {
    if (index < 0 || index >= limit) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

const std::string& TStringList::Get(int index) const {
    CheckListIndex(index, GetCount());
    return items_[static_cast<size_t>(index)];
}

void TStringList::Put(int index, std::string text) {
    CheckListIndex(index, GetCount());
    items_[static_cast<size_t>(index)] = std::move(text);
    tags_[static_cast<size_t>(index)].clear();
}

const std::string& TStringList::GetTag(int index) const {
    CheckListIndex(index, GetCount());
    return tags_[static_cast<size_t>(index)];
}

int TStringList::Add(std::string text) {
    items_.push_back(std::move(text));
    tags_.emplace_back();
    return GetCount() - 1;
}

void TStringList::AddStrings(const std::vector<std::string>& texts) {
    items_.insert(items_.end(), texts.begin(), texts.end());
    tags_.resize(items_.size());
}

void TStringList::AddStrings(const std::vector<std::string>& texts, const std::string& tag) {
    items_.insert(items_.end(), texts.begin(), texts.end());
    tags_.resize(items_.size(), tag);
}

void TStringList::Insert(int index, std::string text) {
    CheckListIndex(index, GetCount() + 1);
    items_.insert(items_.begin() + index, std::move(text));
    tags_.emplace(tags_.begin() + index);
}

void TStringList::Delete(int index) {
    CheckListIndex(index, GetCount());
    items_.erase(items_.begin() + index);
    tags_.erase(tags_.begin() + index);
}

int TStringList::IndexOf(const std::string& text) const noexcept {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == text) return static_cast<int>(i);
    return -1;
}

}  // namespace vmk
