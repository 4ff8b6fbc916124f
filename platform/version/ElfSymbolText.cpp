#include "platform/version/ElfSymbolText.h"

#include <elf.h>

#include <cstring>

namespace {

// [offset, offset + length) inside a buffer of `size` bytes, without overflow.
bool Inside(uint64_t offset, uint64_t length, uint64_t size) {
    return offset <= size && length <= size - offset;
}

template <typename T> bool ReadAt(std::span<const uint8_t> image, uint64_t offset, T& out) {
    if (!Inside(offset, sizeof(T), image.size())) {
        return false;
    }
    std::memcpy(&out, image.data() + offset, sizeof(T));
    return true;
}

struct Sections {
    uint64_t offset = 0;
    uint16_t count = 0;

    bool Get(std::span<const uint8_t> image, uint32_t index, Elf64_Shdr& out) const {
        return index < count && ReadAt(image, offset + uint64_t{index} * sizeof(Elf64_Shdr), out);
    }
};

// The name of a symbol equals `symbol`: the string table holds it whole, NUL included.
bool NameIs(std::span<const uint8_t> image, const Elf64_Shdr& strings, uint32_t nameOffset,
            std::string_view symbol) {
    if (nameOffset >= strings.sh_size ||
        !Inside(strings.sh_offset, strings.sh_size, image.size())) {
        return false;
    }
    const uint64_t left = strings.sh_size - nameOffset;
    if (left < symbol.size() + 1) {
        return false;
    }
    const uint8_t* name = image.data() + strings.sh_offset + nameOffset;
    return std::memcmp(name, symbol.data(), symbol.size()) == 0 && name[symbol.size()] == 0;
}

// The symbol's bytes as text, read from the file image of the section that defines it.
std::optional<std::string> SymbolText(std::span<const uint8_t> image, const Sections& sections,
                                      const Elf64_Sym& sym) {
    Elf64_Shdr home{};
    if (sym.st_shndx == SHN_UNDEF || sym.st_shndx >= SHN_LORESERVE || sym.st_size == 0 ||
        !sections.Get(image, sym.st_shndx, home) || home.sh_type == SHT_NOBITS) {
        return std::nullopt;
    }
    if (sym.st_value < home.sh_addr ||
        !Inside(sym.st_value - home.sh_addr, sym.st_size, home.sh_size)) {
        return std::nullopt;
    }
    const uint64_t offset = home.sh_offset + (sym.st_value - home.sh_addr);
    if (offset < home.sh_offset || !Inside(offset, sym.st_size, image.size())) {
        return std::nullopt;
    }
    const auto* text = reinterpret_cast<const char*>(image.data() + offset);
    const void* end = std::memchr(text, 0, sym.st_size);
    if (end == nullptr) {
        return std::nullopt;
    }
    return std::string(text, static_cast<const char*>(end));
}

} // namespace

std::optional<std::string> ReadElfSymbolText(std::span<const uint8_t> image,
                                             std::string_view symbol) {
    Elf64_Ehdr header{};
    if (symbol.empty() || !ReadAt(image, 0, header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_ident[EI_DATA] != ELFDATA2LSB ||
        header.e_shentsize != sizeof(Elf64_Shdr)) {
        return std::nullopt;
    }
    const Sections sections{header.e_shoff, header.e_shnum};
    if (!Inside(sections.offset, uint64_t{sections.count} * sizeof(Elf64_Shdr), image.size())) {
        return std::nullopt;
    }
    // The dynamic symbols first: they are what the module exports; a stripped file has only
    // those.
    for (const uint32_t wanted : {uint32_t{SHT_DYNSYM}, uint32_t{SHT_SYMTAB}}) {
        for (uint32_t index = 0; index < sections.count; ++index) {
            Elf64_Shdr table{};
            Elf64_Shdr strings{};
            if (!sections.Get(image, index, table) || table.sh_type != wanted ||
                table.sh_entsize != sizeof(Elf64_Sym) ||
                !Inside(table.sh_offset, table.sh_size, image.size()) ||
                !sections.Get(image, table.sh_link, strings) || strings.sh_type != SHT_STRTAB) {
                continue;
            }
            const uint64_t count = table.sh_size / sizeof(Elf64_Sym);
            for (uint64_t n = 0; n < count; ++n) {
                Elf64_Sym sym{};
                if (ReadAt(image, table.sh_offset + n * sizeof(Elf64_Sym), sym) &&
                    ELF64_ST_TYPE(sym.st_info) == STT_OBJECT &&
                    NameIs(image, strings, sym.st_name, symbol)) {
                    return SymbolText(image, sections, sym);
                }
            }
        }
    }
    return std::nullopt;
}
