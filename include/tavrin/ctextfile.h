/// \file
/// A whole text in some code page, moved between memory, files and module resources.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <tavrin/export.h>
#include <tavrin/module.h>

namespace Tavrin {

/// Holds the bytes of one text followed by one NUL byte, or nothing at all (after default
/// construction, or after reading an empty resource; that object holds the empty text). No
/// byte-order mark is ever added or removed: what is read, set or converted stays as it is,
/// marks included. Operations that treat the bytes as a string stop at their first NUL (so a
/// UTF-16 text is cut there). Code pages are Windows code-page numbers, 0 the ANSI code page;
/// conversions are those of Tavrin::Encodings. Every failure the class detects throws
/// Tavrin::CException (by value) with the function name "Tavrin::CTextFile::Read",
/// "Tavrin::CTextFile::Write" or "Tavrin::CTextFile::GuessCodePage"; exceptions of the guesser
/// and of memory allocation pass through unchanged. The object owns its bytes (copies of what
/// was read or set) and its guesser; paths, types and texts passed in are only read during the
/// call. Used by one thread at a time.
class TAVRIN_API CTextFile {
public:
    /// Receives the bytes (trailing NUL included; empty when there is no text) and returns a
    /// code page, or 0 when it cannot tell. Called on the calling thread by GuessCodePage and
    /// GetText(); what it throws reaches their caller.
    using Guesser = std::function<unsigned int(const std::vector<unsigned char>&)>;

    /// No text, no guesser.
    CTextFile();
    /// No text; GuessCodePage asks `guesser` first. The object keeps the guesser (and whatever
    /// it captures) until it is destroyed or assigned.
    explicit CTextFile(Guesser guesser);
    /// Copy the bytes and the guesser.
    ///@{
    CTextFile(const CTextFile& other);
    CTextFile& operator=(const CTextFile& other);
    ///@}
    /// Take over the bytes and the guesser; `other` is left with no text and no guesser.
    ///@{
    CTextFile(CTextFile&& other) noexcept;
    CTextFile& operator=(CTextFile&& other) noexcept;
    ///@}
    ~CTextFile();

    /// Discards the current text, then reads the whole content of the file at `path`, marks
    /// and NUL bytes included; an empty file gives the empty text (one NUL byte). Returns
    /// *this. Throws when the file cannot be opened (missing, a directory, no permission, null
    /// or empty path), and, from another place, when reading fails or delivers fewer bytes than
    /// the file's size, or the file is 4 GiB or larger. After a failure the object holds
    /// no text or a partly filled buffer of the file's size; the file is always closed.
    ///@{
    CTextFile& Read(const wchar_t* path);
    CTextFile& Read(const std::wstring& path);
    ///@}

    /// Discards the current text, then copies the resource of integer identifier `resourceId`
    /// (its low 16 bits) and `type` in `module` (null: the executable); see <tavrin/module.h>.
    /// A resource of size 0 leaves the object without text. Returns *this. Throws when the
    /// resource is not found, cannot be loaded or cannot be locked (three places of their
    /// own); the object then holds no text.
    ///@{
    CTextFile& Read(HINSTANCE module, int resourceId, const wchar_t* type);
    CTextFile& Read(HINSTANCE module, int resourceId, const std::wstring& type);
    ///@}

    /// Writes the text's bytes, without the trailing NUL, as the whole new content of the file
    /// at `path` (nothing for an object without text). Throws when the file cannot be created,
    /// and, from another place, when the bytes cannot all be written; the file may then be left
    /// empty or partly written.
    ///@{
    void Write(const wchar_t* path) const;
    void Write(const std::wstring& path) const;
    ///@}

    /// Replace the text and return *this; the guesser stays.
    /// The narrow text's bytes up to its first NUL, unconverted (null: the empty text).
    ///@{
    CTextFile& SetText(const char* text);
    CTextFile& SetText(const std::string& text);
    ///@}
    /// The wide text up to its first NUL, converted with Encodings::ToCodePage (null text, or a
    /// code page without a narrow form such as 1200: the empty text). No mark is added.
    ///@{
    CTextFile& SetText(const wchar_t* text, unsigned int codePage);
    CTextFile& SetText(const std::wstring& text, unsigned int codePage);
    ///@}

    /// The text up to its first NUL converted with Encodings::FromCodePage; empty for a code
    /// page without a narrow form (1200, 1201, 12000, 12001) or unknown here. A mark among the
    /// bytes is converted with the rest.
    std::wstring GetText(unsigned int codePage) const;
    /// GetText(GuessCodePage()); throws what GuessCodePage throws.
    std::wstring GetText() const;
    /// The text's bytes up to the first NUL, unconverted.
    std::string GetTextRaw() const;

    /// The most likely code page of the text, or 0: the guesser's answer when it is not 0, else
    /// the code page of a leading byte-order mark or signature (FF FE 00 00: 12000,
    /// 00 00 FE FF: 12001, 84 31 95 33: 54936, +/v: 65000, EF BB BF: 65001, FF FE: 1200,
    /// FE FF: 1201; the trailing NUL counts towards the length), else the platform's detector,
    /// whose answer is taken only when it is confident. Asking the detector initialises the
    /// component runtime on the calling thread for the call and undoes that before returning;
    /// on a thread in the multithreaded apartment that fails and throws. An object
    /// without text gives 0 unless the guesser answers.
    unsigned int GuessCodePage() const;

private:
    std::vector<unsigned char> m_bytes;
    Guesser m_guesser;
};

}  // namespace Tavrin
