// Reads the reference dumps that dumpcodepages.exe writes (format described there): for each
// code page, its information and the conversions of single inputs in both directions.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace Tavrin::CodePageDump {

struct SDecodeEntry {
    std::string bytes;
    std::u16string units;
};

struct SEncodeEntry {
    std::u16string units;
    std::string bytes;
};

struct SCodePage {
    unsigned int codePage = 0;
    unsigned int maxCharSize = 0;
    unsigned char defaultChar[2] = {};
    char16_t wideDefaultChar = 0;
    unsigned char leadBytes[12] = {};
    std::vector<SDecodeEntry> decode;
    std::vector<SEncodeEntry> encode;

    bool IsLeadByte(unsigned char b) const {
        for (int i = 0; i + 1 < 12 && leadBytes[i] != 0; i += 2) {
            if (b >= leadBytes[i] && b <= leadBytes[i + 1]) return true;
        }
        return false;
    }
};

// Reads every record of the dump at `path`; throws std::runtime_error when it is unreadable.
inline std::vector<SCodePage> Read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file && !file.eof()) throw std::runtime_error("cannot read " + path);
    size_t pos = 0;
    auto need = [&](size_t n) {
        if (data.size() - pos < n) throw std::runtime_error("truncated dump " + path);
    };
    auto u8 = [&]() -> unsigned {
        need(1);
        return static_cast<unsigned char>(data[pos++]);
    };
    auto u16 = [&]() -> unsigned {
        const unsigned lo = u8();
        return lo | u8() << 8;
    };
    auto u32 = [&]() -> unsigned {
        const unsigned lo = u16();
        return lo | u16() << 16;
    };
    auto bytes = [&](unsigned n) {
        need(n);
        std::string s = data.substr(pos, n);
        pos += n;
        return s;
    };
    auto units = [&](unsigned n) {
        std::u16string s;
        for (unsigned i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(u16()));
        return s;
    };

    std::vector<SCodePage> result;
    while (pos < data.size()) {
        if (u8() != 'C' || u8() != 'P' || u16() != 1) throw std::runtime_error("bad record");
        SCodePage& cp = result.emplace_back();
        cp.codePage = u32();
        cp.maxCharSize = u32();
        cp.defaultChar[0] = static_cast<unsigned char>(u8());
        cp.defaultChar[1] = static_cast<unsigned char>(u8());
        cp.wideDefaultChar = static_cast<char16_t>(u16());
        for (auto& b : cp.leadBytes) b = static_cast<unsigned char>(u8());
        cp.decode.resize(u32());
        for (auto& e : cp.decode) {
            e.bytes = bytes(u8());
            e.units = units(u8());
        }
        cp.encode.resize(u32());
        for (auto& e : cp.encode) {
            e.units = units(u8());
            e.bytes = bytes(u8());
        }
    }
    return result;
}

}  // namespace Tavrin::CodePageDump
