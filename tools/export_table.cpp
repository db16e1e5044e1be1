// Reads the names a shared library exports straight from its file, so that
// one test checks both the ELF and the PE build.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tools/export_table.h"

#include <cstdint>

namespace tavo::tools {
namespace {

template <class T>
T At(const std::vector<unsigned char>& file, uint64_t offset) {
    if (offset + sizeof(T) > file.size()) throw std::runtime_error("truncated file");
    T v;
    std::memcpy(&v, file.data() + offset, sizeof v);
    return v;
}

std::string CString(const std::vector<unsigned char>& file, uint64_t offset) {
    std::string s;
    while (offset < file.size() && file[offset]) s.push_back(char(file[offset++]));
    return s;
}

// ELF64: defined, global or weak, default-visibility entries of .dynsym.
std::vector<std::string> ElfExports(const std::vector<unsigned char>& f) {
    std::vector<std::string> names;
    uint64_t shoff = At<uint64_t>(f, 0x28);
    uint16_t shentsize = At<uint16_t>(f, 0x3A), shnum = At<uint16_t>(f, 0x3C);
    for (uint16_t i = 0; i < shnum; ++i) {
        uint64_t sh = shoff + uint64_t(i) * shentsize;
        if (At<uint32_t>(f, sh + 4) != 11) continue; // SHT_DYNSYM
        uint64_t symoff = At<uint64_t>(f, sh + 0x18), symsize = At<uint64_t>(f, sh + 0x20);
        uint64_t entsize = At<uint64_t>(f, sh + 0x38);
        uint32_t link = At<uint32_t>(f, sh + 0x28);
        uint64_t stroff = At<uint64_t>(f, shoff + uint64_t(link) * shentsize + 0x18);
        for (uint64_t s = symoff + entsize; s < symoff + symsize; s += entsize) {
            uint32_t name = At<uint32_t>(f, s);
            unsigned char info = At<unsigned char>(f, s + 4), other = At<unsigned char>(f, s + 5);
            uint16_t shndx = At<uint16_t>(f, s + 6);
            unsigned bind = info >> 4;
            if (shndx == 0 || (bind != 1 && bind != 2) || (other & 3) != 0) continue;
            names.push_back(CString(f, stroff + name));
        }
    }
    return names;
}

// PE32+: the name table of the export directory.
std::vector<std::string> PeExports(const std::vector<unsigned char>& f) {
    uint32_t pe = At<uint32_t>(f, 0x3C);
    uint16_t sections = At<uint16_t>(f, pe + 6), optSize = At<uint16_t>(f, pe + 20);
    uint64_t opt = pe + 24;
    if (At<uint16_t>(f, opt) != 0x20B) throw std::runtime_error("not PE32+");
    uint32_t exportRva = At<uint32_t>(f, opt + 112);
    uint64_t table = opt + optSize;
    auto fileOffset = [&](uint32_t rva) -> uint64_t {
        for (uint16_t i = 0; i < sections; ++i) {
            uint64_t s = table + uint64_t(i) * 40;
            uint32_t va = At<uint32_t>(f, s + 12), size = At<uint32_t>(f, s + 16), raw = At<uint32_t>(f, s + 20);
            if (rva >= va && rva < va + size) return raw + (rva - va);
        }
        throw std::runtime_error("address outside every section");
    };
    std::vector<std::string> names;
    if (exportRva == 0) return names;
    uint64_t dir = fileOffset(exportRva);
    uint32_t count = At<uint32_t>(f, dir + 24), namesRva = At<uint32_t>(f, dir + 32);
    uint64_t nameTable = fileOffset(namesRva);
    for (uint32_t i = 0; i < count; ++i) names.push_back(CString(f, fileOffset(At<uint32_t>(f, nameTable + 4ull * i))));
    return names;
}

} // namespace

std::vector<std::string> ReadExportNames(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> names;
    if (file.size() > 4 && std::memcmp(file.data(), "\x7F" "ELF", 4) == 0)
        names = ElfExports(file);
    else if (file.size() > 2 && file[0] == 'M' && file[1] == 'Z')
        names = PeExports(file);
    else
        throw std::runtime_error("unknown file format: " + path);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace tavo::tools
