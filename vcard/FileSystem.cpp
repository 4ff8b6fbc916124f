#include "vcard/FileSystem.h"

namespace vcard {

size_t CardFile::Size() const {
    switch (kind) {
    case FileKind::Transparent:
        return content.size();
    case FileKind::Records: {
        size_t total = 0;
        for (const Bytes& r : records) {
            total += r.size();
        }
        return total;
    }
    case FileKind::Dedicated:
        break;
    }
    return 0;
}

FileSystem::FileSystem() {
    m_root.fid = kMasterFile;
    m_root.kind = FileKind::Dedicated;
}

bool FileSystem::Add(const CardPath& path, FileKind kind, size_t size, bool readOnly) {
    if (path.size() < 2) {
        return false;
    }
    CardPath parentPath(path.begin(), path.end() - 1);
    CardFile* parent = Find(parentPath);
    if (parent == nullptr || parent->kind != FileKind::Dedicated) {
        return false;
    }
    const uint16_t fid = path.back();
    if (fid == kMasterFile) {
        return false;
    }
    for (const CardFile& c : parent->children) {
        if (c.fid == fid) {
            return false;
        }
    }
    CardFile file;
    file.fid = fid;
    file.kind = kind;
    file.readOnly = readOnly;
    if (kind == FileKind::Transparent) {
        file.content.assign(size, 0);
    }
    parent->children.push_back(std::move(file));
    return true;
}

CardFile* FileSystem::Find(const CardPath& path) {
    const auto* self = this;
    return const_cast<CardFile*>(self->Find(path)); // NOLINT: one lookup for both
}

const CardFile* FileSystem::Find(const CardPath& path) const {
    if (path.empty() || path.front() != kMasterFile) {
        return nullptr;
    }
    const CardFile* node = &m_root;
    for (size_t i = 1; i < path.size(); ++i) {
        const CardFile* next = nullptr;
        for (const CardFile& c : node->children) {
            if (c.fid == path[i]) {
                next = &c;
                break;
            }
        }
        if (next == nullptr) {
            return nullptr;
        }
        node = next;
    }
    return node;
}

const CardFile* FileSystem::Child(const CardPath& dir, uint16_t fid) const {
    const CardFile* parent = Find(dir);
    if (parent == nullptr || parent->kind != FileKind::Dedicated) {
        return nullptr;
    }
    for (const CardFile& c : parent->children) {
        if (c.fid == fid) {
            return &c;
        }
    }
    return nullptr;
}

namespace {
void WalkFrom(const CardFile& node, CardPath& path,
              const std::function<void(const CardPath&, const CardFile&)>& visit) {
    visit(path, node);
    for (const CardFile& c : node.children) {
        path.push_back(c.fid);
        WalkFrom(c, path, visit);
        path.pop_back();
    }
}
} // namespace

void FileSystem::Walk(const std::function<void(const CardPath&, const CardFile&)>& visit) const {
    CardPath path{kMasterFile};
    WalkFrom(m_root, path, visit);
}

} // namespace vcard
