#include "protocol/PhoneTree.h"

#include <algorithm>
#include <iterator>

namespace {

// Pictures: 0 handset, 1 closed folder, 2 sound folder, 3 picture folder, 4 camera folder,
// 6 open folder.
constexpr PhoneTreeNode kPhoneTree[] = {
    {0, "Phone", 0, 0},
    {1, "user", 1, 6},
    {2, "sounds", 2, 2},
    {1, "images", 3, 3},
    {2, "idle", 3, 3},
    {1, "wap", 1, 6},
    {2, "images", 3, 3},
    {2, "sound", 2, 2},
    {1, "sms", 1, 6},
    {1, "test", 1, 6},
    {1, "mms", 1, 6},
    {2, "inbox", 1, 6},
    {2, "outbox", 1, 6},
    {2, "draft", 1, 6},
    {2, "myfolder", 1, 6},
    {2, "template", 1, 6},
    {2, "voice", 2, 2},
    {2, "mmsimage", 3, 3},
    {2, "temp", 1, 6},
    {2, "mmssound", 2, 2},
    {2, "camera", 4, 4},
    {3, "image", 3, 3},
    {3, "thumb", 3, 3},
    {3, "myalbum1", 1, 6},
    {4, "image", 3, 3},
    {4, "thumb", 3, 3},
    {3, "myalbum2", 1, 6},
    {4, "image", 3, 3},
    {4, "thumb", 3, 3},
    {2, "owttest", 1, 6},
    {2, "updwload", 1, 6},
    {1, "java", 1, 6},
};

} // namespace

std::span<const PhoneTreeNode> PhoneTreeNodes() { return kPhoneTree; }

std::vector<std::string> PhoneTreeFolders()
{
    std::vector<std::string> folders;
    std::vector<std::string> parents;   // the path of the latest node at each depth
    for (const PhoneTreeNode& node : kPhoneTree) {
        parents.resize(static_cast<std::size_t>(node.depth));
        const std::string path = node.depth == 0 ? std::string()
                                                 : parents.back() + "/" + node.caption;
        parents.push_back(path);
        folders.push_back(path.empty() ? "/" : path);
    }
    return folders;
}

std::string NormalPhoneFolder(std::string_view path)
{
    std::string out = "/";
    for (const char c : path)
        if (c != '/' || out.back() != '/')
            out += c;
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

bool IsPhoneTreeFolder(std::string_view path)
{
    const std::vector<std::string> folders = PhoneTreeFolders();
    return std::find(folders.begin(), folders.end(), NormalPhoneFolder(path)) != folders.end();
}
