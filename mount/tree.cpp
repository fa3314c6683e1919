#include "mount/tree.h"

namespace quodrel::mount {

std::string Tree::key(Inode parent, std::string_view name) {
    std::string text(reinterpret_cast<const char*>(&parent), sizeof parent);
    text.append(name);
    return text;
}

Inode Tree::add(Node node) {
    const Inode inode = nodes_.size() + 1;
    nodes_[node.parent - 1].children.push_back(inode);
    by_name_[key(node.parent, node.name)] = inode;
    nodes_.push_back(std::move(node));
    return inode;
}

Inode Tree::find(Inode parent, std::string_view name) const {
    const auto found = by_name_.find(key(parent, name));
    return found == by_name_.end() ? 0 : found->second;
}

Tree Tree::of(quodrel_archive* archive) {
    Tree tree;
    std::unordered_map<std::string, Inode> by_path = {{"", kRoot}};
    std::vector<char> buffer(512);
    for (std::size_t i = 0; i < quodrel_entry_count(archive); ++i) {
        if (quodrel_entry_refusal(archive, i) != QUODREL_WRITTEN)
            continue;
        const std::size_t length = quodrel_entry_path(archive, i, buffer.data(), buffer.size());
        if (length >= buffer.size()) {
            buffer.resize(length + 1);
            quodrel_entry_path(archive, i, buffer.data(), buffer.size());
        }
        const std::string path(buffer.data(), length);
        const std::size_t slash = path.rfind('/');
        const auto parent = by_path.find(slash == std::string::npos ? "" : path.substr(0, slash));
        if (parent == by_path.end())
            continue; // (not met: a written entry's folder is written before it)
        Node node;
        node.name = slash == std::string::npos ? path : path.substr(slash + 1);
        node.parent = parent->second;
        node.folder = quodrel_entry_is_folder(archive, i) != 0;
        if (!node.folder) {
            node.size = static_cast<std::uint64_t>(quodrel_entry_size(archive, i));
            if (quodrel_entry_data_offset(archive, i, &node.data) != QUODREL_OK)
                continue; // (not met: extraction writes only a file whose bytes are there)
        }
        const bool folder = node.folder;
        const Inode inode = tree.add(std::move(node));
        if (folder)
            by_path[path] = inode;
    }
    return tree;
}

} // namespace quodrel::mount
