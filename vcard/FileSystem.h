#pragma once

#include "vcard/Apdu.h"
#include "vcard/CardPath.h"

#include <functional>
#include <vector>

namespace vcard {

enum class FileKind : uint8_t {
    Dedicated,   // DF (and the MF): holds other files
    Transparent, // EF read and written by offset, fixed size
    Records,     // EF of numbered records (1-based) of their own lengths
};

struct CardFile {
    uint16_t fid = 0;
    FileKind kind = FileKind::Dedicated;
    bool readOnly = false;          // UPDATE BINARY refused
    Bytes content;                  // Transparent: the whole file, its size fixed
    std::vector<Bytes> records;     // Records: record n at index n - 1
    std::vector<CardFile> children; // Dedicated: the files directly inside it

    size_t Size() const;
};

// The card's file tree. Files are addressed by their full path from the MF;
// nothing outside keeps pointers into the tree across an insertion.
class FileSystem {
public:
    FileSystem();

    // Adds a file inside an existing DF; fails if the parent is missing or is
    // not a DF, or if the FID is already taken there.
    bool Add(const CardPath& path, FileKind kind, size_t size = 0, bool readOnly = false);

    CardFile* Find(const CardPath& path);
    const CardFile* Find(const CardPath& path) const;

    // The file with this FID directly inside DF `dir`, if any.
    const CardFile* Child(const CardPath& dir, uint16_t fid) const;

    // Every file, parents before their children, with its path.
    void Walk(const std::function<void(const CardPath&, const CardFile&)>& visit) const;

private:
    CardFile m_root;
};

} // namespace vcard
