#pragma once

#include <string>
#include <vector>

namespace vmk {

// Throws EListError unless 0 <= index < limit; every list of texts, in core or
// on screen, refuses a bad index with the same words.
void CheckListIndex(int index, int limit);

// Plain ordered list of texts: unsorted, duplicates kept.
class TStringList {
public:
    int GetCount() const noexcept { return static_cast<int>(items_.size()); }
    const std::string& Get(int index) const;
    const std::string& operator[](int index) const { return Get(index); }
    void Put(int index, std::string text);

    int Add(std::string text);
    void AddStrings(const std::vector<std::string>& texts);
    // Appends the texts, each line carrying the tag.
    void AddStrings(const std::vector<std::string>& texts, const std::string& tag);
    void Insert(int index, std::string text);
    void Delete(int index);
    void Clear() noexcept {
        items_.clear();
        tags_.clear();
    }
    int IndexOf(const std::string& text) const noexcept;

    const std::vector<std::string>& Items() const noexcept { return items_; }

    // A second text kept with each line (the file-path list keeps the folder a
    // picture was added from): "" unless given, it goes wherever its line goes.
    const std::string& GetTag(int index) const;

private:
    std::vector<std::string> items_;
    std::vector<std::string> tags_;  // one a line, always as many as items_
};

}  // namespace vmk
