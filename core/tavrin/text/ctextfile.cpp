#include <tavrin/ctextfile.h>

#include <cstring>
#include <limits>
#include <utility>

#include <tavrin/cexception.h>
#include <tavrin/encodings.h>

#include "core/basepool/raise.h"
#include "core/platform/codepagedetect.h"
#include "core/platform/com.h"
#include "core/platform/file.h"
#include "core/platform/memory.h"
#include "core/platform/resources.h"

namespace Tavrin {
namespace {

struct SSignature {
    unsigned char bytes[4];
    std::size_t length;
    unsigned int codePage;
};

// Byte-order marks and signatures, in the order they are tested: the UTF-32 marks before the
// UTF-16 ones they begin with.
constexpr SSignature kSignatures[] = {
    {{0xFF, 0xFE, 0x00, 0x00}, 4, 12000},  // UTF-32, little-endian
    {{0x00, 0x00, 0xFE, 0xFF}, 4, 12001},  // UTF-32, big-endian
    {{0x84, 0x31, 0x95, 0x33}, 4, 54936},  // GB 18030
    {{0x2B, 0x2F, 0x76, 0x00}, 3, 65000},  // UTF-7, "+/v"
    {{0xEF, 0xBB, 0xBF, 0x00}, 3, 65001},  // UTF-8
    {{0xFF, 0xFE, 0x00, 0x00}, 2, 1200},   // UTF-16, little-endian
    {{0xFE, 0xFF, 0x00, 0x00}, 2, 1201},   // UTF-16, big-endian
};

// Balances one successful initialisation of the component runtime on this thread.
class CComInitialisation {
public:
    CComInitialisation() {
        if (!Com::Succeeded(Com::CoInitialize(nullptr))) {
            Detail::Raise(Detail::ERaise::TextFileComInitialize);
        }
    }
    ~CComInitialisation() { Com::CoUninitialize(); }
    CComInitialisation(const CComInitialisation&) = delete;
    CComInitialisation& operator=(const CComInitialisation&) = delete;
};

// Paths end at their first NUL, as for any zero-terminated path; null is the empty path.
std::wstring PathText(const wchar_t* path) {
    return path != nullptr ? std::wstring(path) : std::wstring();
}

}  // namespace

CTextFile::CTextFile() = default;

CTextFile::CTextFile(Guesser guesser) : m_guesser(std::move(guesser)) {}

CTextFile::CTextFile(const CTextFile& other) = default;

CTextFile& CTextFile::operator=(const CTextFile& other) {
    if (this != &other) {
        // Copy both before changing either, so a failed copy leaves this object as it was.
        std::vector<unsigned char> bytes(other.m_bytes);
        Guesser guesser(other.m_guesser);
        m_bytes = std::move(bytes);
        m_guesser = std::move(guesser);
    }
    return *this;
}

CTextFile::CTextFile(CTextFile&& other) noexcept
    : m_bytes(std::move(other.m_bytes)), m_guesser(std::move(other.m_guesser)) {
    // A moved-from std::function is only "valid but unspecified"; make the promise explicit.
    other.m_bytes.clear();
    other.m_guesser = nullptr;
}

CTextFile& CTextFile::operator=(CTextFile&& other) noexcept {
    if (this != &other) {
        m_bytes = std::move(other.m_bytes);
        m_guesser = std::move(other.m_guesser);
        other.m_bytes.clear();
        other.m_guesser = nullptr;
    }
    return *this;
}

CTextFile::~CTextFile() = default;

CTextFile& CTextFile::Read(const std::wstring& path) { return Read(path.c_str()); }

CTextFile& CTextFile::Read(const wchar_t* path) {
    m_bytes.clear();
    Platform::CFile file;  // closes the file on every exit
    if (file.OpenRead(PathText(path)) != Platform::EFileError::None) {
        Detail::Raise(Detail::ERaise::TextFileOpen);
    }
    // The size is a 32-bit count: a file of 4 GiB or more is refused rather than read in part.
    std::uint64_t size = 0;
    if (file.GetSize(size) != Platform::EFileError::None ||
        size > std::numeric_limits<std::uint32_t>::max()) {
        Detail::Raise(Detail::ERaise::TextFileReadBytes);
    }
    const auto n = static_cast<std::size_t>(size);
    if (m_bytes.capacity() < n + 1) {
        // A fresh block, advised before anything touches it.
        std::vector<unsigned char>().swap(m_bytes);
        m_bytes.reserve(n + 1);
        Platform::AdviseLargePages(m_bytes.data(), n + 1);
    }
    m_bytes.resize(n + 1);
    m_bytes[n] = 0;
    std::size_t delivered = 0;
    if (file.ReadFull(m_bytes.data(), n, delivered) != Platform::EFileError::None ||
        delivered != n) {
        Detail::Raise(Detail::ERaise::TextFileReadBytes);
    }
    return *this;
}

CTextFile& CTextFile::Read(HINSTANCE module, int resourceId, const wchar_t* type) {
    m_bytes.clear();
    const Platform::HRSRC found = Platform::FindResource(module, resourceId, type);
    if (found == nullptr) Detail::Raise(Detail::ERaise::TextFileResourceNotFound);
    const Platform::HGLOBAL loaded = Platform::LoadResource(module, found);
    if (loaded == nullptr) Detail::Raise(Detail::ERaise::TextFileResourceLoad);
    const std::uint32_t n = Platform::SizeofResource(module, found);
    if (n == 0) return *this;
    const void* data = Platform::LockResource(loaded);
    if (data == nullptr) Detail::Raise(Detail::ERaise::TextFileResourceLock);
    m_bytes.resize(std::size_t{n} + 1);
    std::memcpy(m_bytes.data(), data, n);
    m_bytes[n] = 0;
    return *this;
}

CTextFile& CTextFile::Read(HINSTANCE module, int resourceId, const std::wstring& type) {
    return Read(module, resourceId, type.c_str());
}

void CTextFile::Write(const std::wstring& path) const { Write(path.c_str()); }

void CTextFile::Write(const wchar_t* path) const {
    Platform::CFile file;  // closes the file on every exit
    if (file.CreateWrite(PathText(path)) != Platform::EFileError::None) {
        Detail::Raise(Detail::ERaise::TextFileCreate);
    }
    const std::size_t n = m_bytes.empty() ? 0 : m_bytes.size() - 1;
    // Closing reports the errors that a file system delays until then; they lose bytes too.
    if (file.Write(m_bytes.data(), n) != Platform::EFileError::None ||
        file.Close() != Platform::EFileError::None) {
        Detail::Raise(Detail::ERaise::TextFileWriteBytes);
    }
}

CTextFile& CTextFile::SetText(const char* text) {
    const std::size_t n = text != nullptr ? std::strlen(text) : 0;
    std::vector<unsigned char> bytes(n + 1);
    if (n != 0) std::memcpy(bytes.data(), text, n);
    m_bytes = std::move(bytes);
    return *this;
}

CTextFile& CTextFile::SetText(const std::string& text) { return SetText(text.c_str()); }

CTextFile& CTextFile::SetText(const wchar_t* text, unsigned int codePage) {
    return SetText(Encodings::ToCodePage(text, codePage));
}

CTextFile& CTextFile::SetText(const std::wstring& text, unsigned int codePage) {
    return SetText(text.c_str(), codePage);
}

std::wstring CTextFile::GetText(unsigned int codePage) const {
    const char* text = m_bytes.empty() ? "" : reinterpret_cast<const char*>(m_bytes.data());
    return Encodings::FromCodePage(text, codePage);
}

std::wstring CTextFile::GetText() const { return GetText(GuessCodePage()); }

std::string CTextFile::GetTextRaw() const {
    if (m_bytes.empty()) return std::string();
    const char* bytes = reinterpret_cast<const char*>(m_bytes.data());
    const std::size_t n = std::strlen(bytes);
    std::string text;
    text.reserve(n);
    Platform::AdviseLargePages(text.data(), n);
    text.append(bytes, n);
    return text;
}

unsigned int CTextFile::GuessCodePage() const {
    if (m_guesser) {
        const unsigned int guessed = m_guesser(m_bytes);
        if (guessed != 0) return guessed;
    }

    for (const SSignature& s : kSignatures) {
        if (m_bytes.size() >= s.length && std::memcmp(m_bytes.data(), s.bytes, s.length) == 0) {
            return s.codePage;
        }
    }

    const CComInitialisation com;
    Platform::CComPtr<Platform::IMultiLanguage2> detector;
    constexpr unsigned int kClassContext =
        Platform::CLSCTX_INPROC_SERVER | Platform::CLSCTX_INPROC_HANDLER |
        Platform::CLSCTX_LOCAL_SERVER | Platform::CLSCTX_REMOTE_SERVER;
    if (!Com::Succeeded(Platform::CoCreateInstance(Platform::CLSID_CMultiLanguage, nullptr,
                                                   kClassContext, Platform::IID_IMultiLanguage2,
                                                   detector.Out()))) {
        return 0;
    }

    constexpr std::int32_t kRecords = 1000;
    std::vector<Platform::DetectEncodingInfo> records(kRecords);
    std::int32_t count = kRecords;
    const std::size_t length = m_bytes.empty() ? 0 : m_bytes.size() - 1;
    std::int32_t size = length > std::size_t{std::numeric_limits<std::int32_t>::max()}
                            ? std::numeric_limits<std::int32_t>::max()
                            : static_cast<std::int32_t>(length);
    const char* text = m_bytes.empty() ? "" : reinterpret_cast<const char*>(m_bytes.data());
    const Com::HRESULT hr =
        detector->DetectInputCodepage(0, 0, text, &size, records.data(), &count);
    return hr == Com::S_OK && count > 0 ? records[0].nCodePage : 0;
}

}  // namespace Tavrin
