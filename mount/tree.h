// The tree the mount shows: the entries extraction would write, each known by its
// inode number (its place in the tree plus one; the root is 1), with its name, its
// folder, and for a file its size and where its bytes start in the archive.
#pragma once

#include "quodrel/quodrel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quodrel::mount {

using Inode = std::uint64_t;
constexpr Inode kRoot = 1;

struct Node {
    std::string name;
    Inode parent = kRoot;
    bool folder = true;
    std::uint64_t size = 0;      // a file's bytes,
    std::uint64_t data = 0;      // which start at this byte of the archive
    std::vector<Inode> children; // a folder's, in the archive's order
};

class Tree {
public:
    Tree() : nodes_(1) {}

    // The tree extraction would write of `archive`: entries it refuses are left out,
    // with all inside them.
    static Tree of(quodrel_archive* archive);

    // The node of an inode number, or nullptr for none.
    const Node* node(Inode inode) const {
        return inode >= 1 && inode <= nodes_.size() ? &nodes_[inode - 1] : nullptr;
    }
    // The child of `parent` named `name`, or 0 for none.
    Inode find(Inode parent, std::string_view name) const;
    // How many nodes, the root included: inode numbers run from 1 to this.
    std::size_t size() const { return nodes_.size(); }

private:
    Inode add(Node node);
    static std::string key(Inode parent, std::string_view name);

    std::vector<Node> nodes_;                        // [0] is the root
    std::unordered_map<std::string, Inode> by_name_; // key(parent, name) to a child
};

} // namespace quodrel::mount
