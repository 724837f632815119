#pragma once

// Whole folders of pictures: which files a folder gives and in which order.
// The window's "Add Folder", a folder dropped on its list and the command
// line's folder arguments all take them from here.

#include <string>
#include <vector>

namespace vmk {

// Natural order of names: runs of digits compare by their value ("IMG_2"
// before "IMG_10"), other characters without regard to ASCII case. Names
// that still tie are put in plain byte order, so the order is total.
bool NaturalLess(const std::string& a, const std::string& b);

struct TFolderPictures {
    std::vector<std::string> Pictures;    // full paths, in the walk's order
    std::vector<std::string> Unreadable;  // folders that could not be listed
};

// The pictures of a folder (by IsPicturePath) in natural order; with
// subfolders, then each subfolder's the same way, folder by folder in natural
// order. Hidden files and folders (a leading ".") are passed over; a link to
// a picture is taken, a link to a folder is never entered (it leads out of the
// folder or back into it), and no folder is walked twice.
TFolderPictures WalkFolder(const std::string& folder, bool subfolders);

// The subfolder below root that holds path, ending in "/" ("day1/", "a/b/"),
// or "" when path lies directly in root, outside it, or would climb out of it.
std::string RelativeFolder(const std::string& root, const std::string& path);

}  // namespace vmk
