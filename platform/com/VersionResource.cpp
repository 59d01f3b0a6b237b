#include "platform/com/VersionResource.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>

namespace {

constexpr const char kSectionName[] = ".note.velotrax.version";
constexpr const char kNoteName[] = "Velotrax";
constexpr uint32_t kNoteType = 0x5654;
constexpr size_t kMaxNoteSize = 64 * 1024;
constexpr size_t kFixedSize = sizeof(VS_FIXEDFILEINFO);

// Reads 'size' bytes at 'offset'; false when the file is shorter.
bool ReadAt(std::ifstream& in, uint64_t offset, void* out, size_t size) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
    return in.good() || (in.gcount() == static_cast<std::streamsize>(size));
}

template <class Ehdr, class Shdr>
std::optional<std::vector<uint8_t>> FindSection(std::ifstream& in) {
    Ehdr eh;
    if (!ReadAt(in, 0, &eh, sizeof eh))
        return std::nullopt;
    if (eh.e_shentsize != sizeof(Shdr) || eh.e_shnum == 0 || eh.e_shstrndx >= eh.e_shnum)
        return std::nullopt;
    std::vector<Shdr> sections(eh.e_shnum);
    if (!ReadAt(in, eh.e_shoff, sections.data(), sizeof(Shdr) * sections.size()))
        return std::nullopt;
    const Shdr& strtab = sections[eh.e_shstrndx];
    if (strtab.sh_size > (1u << 20))
        return std::nullopt;
    std::vector<char> names(strtab.sh_size + 1, '\0');
    if (!ReadAt(in, strtab.sh_offset, names.data(), strtab.sh_size))
        return std::nullopt;
    for (const Shdr& s : sections) {
        if (s.sh_name >= strtab.sh_size)
            continue;
        if (std::strcmp(names.data() + s.sh_name, kSectionName) != 0)
            continue;
        if (s.sh_type == SHT_NOBITS || s.sh_size > kMaxNoteSize)
            return std::nullopt;
        std::vector<uint8_t> bytes(s.sh_size);
        if (!ReadAt(in, s.sh_offset, bytes.data(), bytes.size()))
            return std::nullopt;
        return bytes;
    }
    return std::nullopt;
}

uint32_t Read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The descriptor of our note within the section's notes.
std::optional<std::vector<uint8_t>> FindNote(const std::vector<uint8_t>& section) {
    size_t pos = 0;
    while (pos + 12 <= section.size()) {
        uint32_t namesz = Read32(&section[pos]);
        uint32_t descsz = Read32(&section[pos + 4]);
        uint32_t type = Read32(&section[pos + 8]);
        size_t nameStart = pos + 12;
        size_t descStart = nameStart + ((size_t(namesz) + 3) & ~size_t(3));
        size_t next = descStart + ((size_t(descsz) + 3) & ~size_t(3));
        if (descStart > section.size() || descsz > section.size() - descStart)
            return std::nullopt;
        if (type == kNoteType && namesz == sizeof kNoteName &&
            std::memcmp(&section[nameStart], kNoteName, sizeof kNoteName) == 0)
            return std::vector<uint8_t>(section.begin() + static_cast<long>(descStart),
                                        section.begin() + static_cast<long>(descStart + descsz));
        pos = next;
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> ReadBlock(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    unsigned char ident[EI_NIDENT];
    if (!ReadAt(in, 0, ident, sizeof ident))
        return std::nullopt;
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_DATA] != ELFDATA2LSB)
        return std::nullopt;
    std::optional<std::vector<uint8_t>> section;
    if (ident[EI_CLASS] == ELFCLASS64)
        section = FindSection<Elf64_Ehdr, Elf64_Shdr>(in);
    else if (ident[EI_CLASS] == ELFCLASS32)
        section = FindSection<Elf32_Ehdr, Elf32_Shdr>(in);
    if (!section)
        return std::nullopt;
    auto note = FindNote(*section);
    // A block must hold the fixed information and the translation pair.
    if (!note || note->size() < kFixedSize + 4)
        return std::nullopt;
    if (Read32(note->data()) != 0xFEEF04BDu)
        return std::nullopt;
    return note;
}

struct Module {
    const void* address;
    std::string path;
};

int FindModule(dl_phdr_info* info, size_t, void* data) {
    auto* m = static_cast<Module*>(data);
    auto addr = reinterpret_cast<uintptr_t>(m->address);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const auto& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD)
            continue;
        uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        if (addr >= start && addr < start + ph.p_memsz) {
            m->path = info->dlpi_name ? info->dlpi_name : "";
            if (m->path.empty())
                m->path = "/proc/self/exe";
            return 1;
        }
    }
    return 0;
}

}  // namespace

std::string GetModuleFileName(const void* address) {
    Module m{address, {}};
    dl_iterate_phdr(FindModule, &m);
    if (m.path == "/proc/self/exe") {
        char buf[4096];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n > 0)
            m.path.assign(buf, static_cast<size_t>(n));
    }
    return m.path;
}

DWORD GetFileVersionInfoSize(const std::string& path) {
    auto block = ReadBlock(path);
    return block ? static_cast<DWORD>(block->size()) : 0;
}

bool GetFileVersionInfo(const std::string& path, std::vector<uint8_t>& block) {
    auto b = ReadBlock(path);
    if (!b)
        return false;
    block = std::move(*b);
    return true;
}

bool VerQueryValue(const std::vector<uint8_t>& block, const std::string& subBlock,
                   const void** value, unsigned* length) {
    if (!value || !length || block.size() < kFixedSize + 4)
        return false;
    *value = nullptr;
    *length = 0;
    if (subBlock == "\\") {
        *value = block.data();
        *length = kFixedSize;
        return true;
    }
    if (subBlock == "\\VarFileInfo\\Translation") {
        *value = block.data() + kFixedSize;
        *length = 4;
        return true;
    }
    constexpr std::string_view prefix = "\\StringFileInfo\\";
    if (subBlock.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::string_view rest = std::string_view(subBlock).substr(prefix.size());
    if (rest.size() < 10 || rest[8] != '\\')
        return false;
    uint16_t language, codePage;
    std::memcpy(&language, block.data() + kFixedSize, 2);
    std::memcpy(&codePage, block.data() + kFixedSize + 2, 2);
    char expected[16];
    std::snprintf(expected, sizeof expected, "%04x%04x", language, codePage);
    // Strings compare the language tag without regard to case, as the system does.
    for (size_t i = 0; i < 8; ++i)
        if (std::tolower(static_cast<unsigned char>(rest[i])) != expected[i])
            return false;
    std::string_view name = rest.substr(9);
    const char* p = reinterpret_cast<const char*>(block.data()) + kFixedSize + 4;
    const char* end = reinterpret_cast<const char*>(block.data()) + block.size();
    while (p < end && *p) {
        const char* keyEnd = static_cast<const char*>(std::memchr(p, '\0', size_t(end - p)));
        if (!keyEnd)
            return false;
        const char* val = keyEnd + 1;
        const char* valEnd =
            val < end ? static_cast<const char*>(std::memchr(val, '\0', size_t(end - val)))
                      : nullptr;
        if (!valEnd)
            return false;
        if (std::string_view(p, size_t(keyEnd - p)) == name) {
            *value = val;
            *length = static_cast<unsigned>(valEnd - val);
            return true;
        }
        p = valEnd + 1;
    }
    return false;
}
