#pragma once
// The handset's folder tree as Tarvel knows it: the fixed tree of the window's phone pane, the
// folders the command line backs up and accepts, and the folders the virtual handset creates.
// The handset has no command that lists folders, so the tree is this table.
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct PhoneTreeNode {
    int depth;            // 0: the root ("/"), 1: a folder of the root, ...
    const char* caption;  // the folder's name (the root's: what the window shows for it)
    int image;            // the pictures the window shows for it, closed and selected
    int selectedImage;
};

// The nodes in the window's order, each after its parent.
std::span<const PhoneTreeNode> PhoneTreeNodes();
// The handset path of every node, in that order: "/", "/user", "/user/sounds", ...
std::vector<std::string> PhoneTreeFolders();
// `path` with one leading slash and no trailing one ("user/sounds/" -> "/user/sounds", "" -> "/").
std::string NormalPhoneFolder(std::string_view path);
// True when the tree has this folder (after NormalPhoneFolder).
bool IsPhoneTreeFolder(std::string_view path);
