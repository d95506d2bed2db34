// Dumps what MultiByteToWideChar and WideCharToMultiByte (flags 0) give for every code page the
// system converts, as the reference that the Linux conversions are checked against.
//
// Output (binary, little-endian), one record a code page, to the file named by argv[1]:
//   "CP" u16 version (1), u32 code page, u32 maximum character size, u8[2] default character,
//   u16 wide default character, u8[12] lead-byte ranges (from GetCPInfoExW);
//   decode entries: u32 count, then each: u8 input length, input bytes, u8 unit count, units;
//   encode entries: u32 count, then each: u8 unit count, units, u8 byte count, bytes.
// A result longer than 255 is cut to 255 (no table code page comes near it).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<unsigned int> g_codePages;

BOOL CALLBACK OnCodePage(LPWSTR name) {
    g_codePages.push_back(static_cast<unsigned int>(wcstoul(name, nullptr, 10)));
    return TRUE;
}

struct CWriter {
    FILE* file;
    void U8(unsigned v) { fputc(static_cast<int>(v & 0xFF), file); }
    void U16(unsigned v) {
        U8(v);
        U8(v >> 8);
    }
    void U32(unsigned v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
};

void Decode(CWriter& w, unsigned cp, const std::string& in, unsigned& count) {
    wchar_t out[512];
    int n = MultiByteToWideChar(cp, 0, in.data(), static_cast<int>(in.size()), out, 512);
    if (n < 0) n = 0;
    if (n > 255) n = 255;
    ++count;
    w.U8(static_cast<unsigned>(in.size()));
    for (unsigned char c : in) w.U8(c);
    w.U8(static_cast<unsigned>(n));
    for (int i = 0; i < n; ++i) w.U16(out[i]);
}

void Encode(CWriter& w, unsigned cp, const std::wstring& in, unsigned& count) {
    char out[1024];
    int n = WideCharToMultiByte(cp, 0, in.data(), static_cast<int>(in.size()), out, 1024, nullptr,
                                nullptr);
    if (n < 0) n = 0;
    if (n > 255) n = 255;
    ++count;
    w.U8(static_cast<unsigned>(in.size()));
    for (wchar_t c : in) w.U16(c);
    w.U8(static_cast<unsigned>(n));
    for (int i = 0; i < n; ++i) w.U8(static_cast<unsigned char>(out[i]));
}

// Texts that show how stateful and variable-length code pages read and write beyond single
// characters: mode switches, runs, truncated sequences.
const char* const kDecodeSamples[] = {
    "+AGEAYgBj-",
    "+AGEAYgBj",
    "a+-b",
    "+ZeVnLIqe-x",
    "+ZeVnLIqe x",
    "a+b-c",
    "+AG",
    "+AGE-",
    "+AGEA-",
    "+2D3eAA-",
    "+2D0-",
    "+3gA-",
    "~{<:Ky2;S{#,~}",
    "~~ab~\nc",
    "~{",
    "~}a",
    "\x1B$B$\"\x1B(Ba",
    "\x1B$)C\x0E\x21\x21\x0F",
    "\x1B$A\x0E\x21\x21\x0F",
    "\x1B(Ja",
    "\x81\x30\x81\x30",
    "\x90\x30\x81\x30",
    "\x81\x30",
    "\xFF\xFF",
    "+",
    "+-",
    "a~b",
    "+!",
    "+\x80x",
    "+AOk+AOk-",
    "+AOkA6QDp-",
    "+AOkA6QDpAA-",
    "+AOk.",
    "+AOk--",
    "+/v8-",
    "+AAA-a",
    "+ZeVnLIqe+-",
    "+AOkA",
    "+AOkA6",
    "+-+-",
};
const wchar_t* const kEncodeSamples[] = {
    L"abc",
    L"a\x3042"
    L"b",
    L"\x3042\x3044",
    L"\xFF71",
    L"~",
    L"+",
    L"a+b",
    L"\xE9\xE9",
    L"\x4E2D\x6587",
    L"\xAC00"
    L"a",
    L"a\xE9"
    L"b",
    L"\x00E9-",
    L"\x00E9"
    L"a",
    L"\x20AC\x20AC",
    L"\xE9+",
    L"+\xE9",
    L"\xE9 \xE9",
    L"\xE9\xE9\xE9",
    L"!!",
    L"\xE9!",
    L"!a",
    L"\xE9.",
    L"a\r\nb",
    L"\xE9\x0A",
    L"++",
    L"\xE9\xE9\xE9\xE9-",
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: dumpcodepages OUT [code page ...]\n");
        return 2;
    }
    if (argc > 2) {
        for (int i = 2; i < argc; ++i) g_codePages.push_back(strtoul(argv[i], nullptr, 10));
    } else {
        EnumSystemCodePagesW(OnCodePage, CP_SUPPORTED);
        // UTF-7 converts without being listed.
        if (std::find(g_codePages.begin(), g_codePages.end(), CP_UTF7) == g_codePages.end()) {
            g_codePages.push_back(CP_UTF7);
        }
    }
    std::sort(g_codePages.begin(), g_codePages.end());
    FILE* f = fopen(argv[1], "wb");
    if (f == nullptr) return 1;
    CWriter w{f};
    for (unsigned cp : g_codePages) {
        if (cp == CP_UTF8) continue;  // the library's own coder, checked by its own tests
        CPINFOEXW info{};
        if (!GetCPInfoExW(cp, 0, &info)) continue;
        w.U8('C');
        w.U8('P');
        w.U16(1);
        w.U32(cp);
        w.U32(info.MaxCharSize);
        w.U8(info.DefaultChar[0]);
        w.U8(info.DefaultChar[1]);
        w.U16(info.UnicodeDefaultChar);
        for (int i = 0; i < 12; ++i) w.U8(info.LeadByte[i]);

        std::vector<std::string> decodeInputs;
        bool lead[256] = {};
        for (int i = 0; i + 1 < 12 && info.LeadByte[i] != 0; i += 2) {
            for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) lead[b] = true;
        }
        for (unsigned b = 0; b < 256; ++b) {
            decodeInputs.push_back(std::string(1, static_cast<char>(b)));
            if (!lead[b]) continue;
            for (unsigned t = 0; t < 256; ++t) {
                decodeInputs.push_back({static_cast<char>(b), static_cast<char>(t)});
            }
            decodeInputs.push_back({static_cast<char>(b), static_cast<char>(0x41), 'B'});
        }
        for (const char* s : kDecodeSamples) decodeInputs.push_back(s);
        std::vector<std::wstring> encodeInputs;
        for (unsigned u = 0; u < 0x10000; ++u) encodeInputs.push_back(std::wstring(1, wchar_t(u)));
        for (unsigned c : {0x10000u, 0x1F600u, 0x20000u, 0x2A6D6u, 0x10FFFFu, 0x20BB7u}) {
            c -= 0x10000;
            encodeInputs.push_back({wchar_t(0xD800 + (c >> 10)), wchar_t(0xDC00 + (c & 0x3FF))});
        }
        for (const wchar_t* s : kEncodeSamples) encodeInputs.push_back(s);

        unsigned count = 0;
        w.U32(static_cast<unsigned>(decodeInputs.size()));
        for (const auto& in : decodeInputs) Decode(w, cp, in, count);
        w.U32(static_cast<unsigned>(encodeInputs.size()));
        for (const auto& in : encodeInputs) Encode(w, cp, in, count);
        fprintf(stderr, "%u: %u entries\n", cp, count);
    }
    fclose(f);
    return 0;
}
