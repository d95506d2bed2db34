// A whole text in some code page, moved between memory, files and module resources.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <tavrin/export.h>
#include <tavrin/module.h>

namespace Tavrin {

// Holds the bytes of one text followed by one NUL byte, or nothing at all (after default
// construction, or after reading an empty resource; that object holds the empty text). No
// byte-order mark is ever added or removed: what is read, set or converted stays as it is,
// marks included. Operations that treat the bytes as a string stop at their first NUL (so a
// UTF-16 text is cut there). Code pages are Windows code-page numbers, 0 the ANSI code page;
// conversions are those of Tavrin::Encodings. Every failure throws Tavrin::CException with the
// function name "Tavrin::CTextFile::Read", "Tavrin::CTextFile::Write" or
// "Tavrin::CTextFile::GuessCodePage". Used by one thread at a time.
class TAVRIN_API CTextFile {
public:
    // Receives the bytes (trailing NUL included; empty when there is no text) and returns a
    // code page, or 0 when it cannot tell.
    using Guesser = std::function<unsigned int(const std::vector<unsigned char>&)>;

    // No text, no guesser.
    CTextFile();
    // No text; GuessCodePage asks `guesser` first.
    explicit CTextFile(Guesser guesser);
    // Copy the bytes and the guesser.
    CTextFile(const CTextFile& other);
    CTextFile& operator=(const CTextFile& other);
    // Take over the bytes and the guesser; `other` is left with no text and no guesser.
    CTextFile(CTextFile&& other) noexcept;
    CTextFile& operator=(CTextFile&& other) noexcept;
    ~CTextFile();

    // Replaces the text by the whole content of the file at `path`. Throws (line 82) when the
    // file cannot be opened (missing, a directory, no permission, null path), (line 101) when
    // reading fails or delivers fewer bytes than the file's size, or the file is 4 GiB or
    // larger. After a failure the object holds no text or a partly filled buffer of the size.
    CTextFile& Read(const wchar_t* path);
    CTextFile& Read(const std::wstring& path);

    // Replaces the text by the resource of integer identifier `resourceId` and `type` in
    // `module` (null: the executable). A resource of size 0 leaves the object without text.
    // Throws when the resource is not found (line 140), cannot be loaded (line 142) or cannot
    // be locked (line 147).
    CTextFile& Read(HINSTANCE module, int resourceId, const wchar_t* type);
    CTextFile& Read(HINSTANCE module, int resourceId, const std::wstring& type);

    // Writes the text's bytes, without the trailing NUL, as the whole new content of the file
    // at `path` (nothing for an object without text). Throws when the file cannot be created
    // (line 199) or the bytes cannot all be written (line 211); the file may then be left
    // empty or partly written.
    void Write(const wchar_t* path) const;
    void Write(const std::wstring& path) const;

    // The narrow text's bytes up to its first NUL, unconverted (null: the empty text).
    CTextFile& SetText(const char* text);
    CTextFile& SetText(const std::string& text);
    // The wide text up to its first NUL, converted to `codePage` (null: the empty text).
    CTextFile& SetText(const wchar_t* text, unsigned int codePage);
    CTextFile& SetText(const std::wstring& text, unsigned int codePage);

    // The text converted from `codePage`.
    std::wstring GetText(unsigned int codePage) const;
    // The text converted from GuessCodePage(); may throw as GuessCodePage does.
    std::wstring GetText() const;
    // The text's bytes up to the first NUL, unconverted.
    std::string GetTextRaw() const;

    // The most likely code page of the text, or 0: the guesser's answer when it is not 0, else
    // the code page of a leading byte-order mark or signature (FF FE 00 00: 12000,
    // 00 00 FE FF: 12001, 84 31 95 33: 54936, +/v: 65000, EF BB BF: 65001, FF FE: 1200,
    // FE FF: 1201; the trailing NUL counts towards the length), else the platform's detector,
    // whose answer is taken only when it is confident. Asking the detector initialises the
    // component runtime on the calling thread for the call; on a thread in the multithreaded
    // apartment that fails and throws (line 413).
    unsigned int GuessCodePage() const;

private:
    std::vector<unsigned char> m_bytes;
    Guesser m_guesser;
};

}  // namespace Tavrin
