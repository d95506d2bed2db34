#include "codepagedetect.h"

#include <unicode/ucsdet.h>

#include <atomic>
#include <cstring>
#include <new>

namespace Tavrin::Platform {
namespace {

struct SCharsetCodePage {
    const char* name;
    std::uint32_t codePage;
};

// Every charset that ICU's detector can report. ISO-8859-1 is taken as windows-1252, as
// Windows itself does for Western text; the IBM EBCDIC charsets come in two text directions
// that share one code page.
constexpr SCharsetCodePage kCharsets[] = {
    {"UTF-8", 65001},       {"UTF-16LE", 1200},     {"UTF-16BE", 1201},     {"UTF-32LE", 12000},
    {"UTF-32BE", 12001},    {"Shift_JIS", 932},     {"GB18030", 54936},     {"Big5", 950},
    {"EUC-JP", 51932},      {"EUC-KR", 51949},      {"ISO-2022-JP", 50220}, {"ISO-2022-KR", 50225},
    {"ISO-2022-CN", 50227}, {"ISO-8859-1", 1252},   {"ISO-8859-2", 28592},  {"ISO-8859-5", 28595},
    {"ISO-8859-6", 28596},  {"ISO-8859-7", 28597},  {"ISO-8859-8", 28598},  {"ISO-8859-8-I", 38598},
    {"ISO-8859-9", 28599},  {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1252", 1252},
    {"windows-1253", 1253}, {"windows-1254", 1254}, {"windows-1255", 1255}, {"windows-1256", 1256},
    {"KOI8-R", 20866},      {"IBM420_rtl", 20420},  {"IBM420_ltr", 20420},  {"IBM424_rtl", 20424},
    {"IBM424_ltr", 20424},
};

struct SLanguageId {
    const char* code;
    std::uint32_t langId;
};

// Windows primary-locale language identifiers of the languages ICU's detector names.
constexpr SLanguageId kLanguages[] = {
    {"ar", 0x0401}, {"cs", 0x0405}, {"da", 0x0406}, {"de", 0x0407}, {"el", 0x0408}, {"en", 0x0409},
    {"es", 0x0C0A}, {"fi", 0x040B}, {"fr", 0x040C}, {"he", 0x040D}, {"hu", 0x040E}, {"it", 0x0410},
    {"ja", 0x0411}, {"ko", 0x0412}, {"nl", 0x0413}, {"no", 0x0414}, {"pl", 0x0415}, {"pt", 0x0816},
    {"ro", 0x0418}, {"ru", 0x0419}, {"sv", 0x041D}, {"tr", 0x041F}, {"zh", 0x0804},
};

std::uint32_t LanguageIdOf(const char* code) noexcept {
    if (code == nullptr) return 0;
    for (const SLanguageId& l : kLanguages) {
        if (std::strcmp(l.code, code) == 0) return l.langId;
    }
    return 0;
}

// Owns an ICU detector.
class CDetector {
public:
    explicit CDetector(UErrorCode& status) noexcept : m_detector(ucsdet_open(&status)) {}
    ~CDetector() {
        if (m_detector != nullptr) ucsdet_close(m_detector);
    }
    CDetector(const CDetector&) = delete;
    CDetector& operator=(const CDetector&) = delete;
    UCharsetDetector* Get() const noexcept { return m_detector; }

private:
    UCharsetDetector* m_detector;
};

// Reference counted: it ends only through Release, so its destructor is private.
// NOLINTNEXTLINE(cppcoreguidelines-virtual-class-destructor)
class CMultiLanguage final : public IMultiLanguage2 {
public:
    HRESULT QueryInterface(const GUID& iid, void** object) noexcept override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IMultiLanguage2) {
            *object = static_cast<IMultiLanguage2*>(this);
            AddRef();
            return Com::S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    std::uint32_t AddRef() noexcept override {
        return m_references.fetch_add(1, std::memory_order_relaxed) + 1;
    }

    std::uint32_t Release() noexcept override {
        const std::uint32_t left = m_references.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

    HRESULT DetectInputCodepage(std::uint32_t /*flags*/, std::uint32_t /*preferredCodePage*/,
                                const char* text, std::int32_t* size, DetectEncodingInfo* records,
                                std::int32_t* count) noexcept override {
        if (size == nullptr || records == nullptr || count == nullptr || *count < 1) {
            return Com::E_INVALIDARG;
        }
        const std::int32_t capacity = *count;
        *count = 0;
        if (*size <= 0) {
            *size = 0;
            return Com::S_FALSE;
        }
        if (text == nullptr) return Com::E_INVALIDARG;

        UErrorCode status = U_ZERO_ERROR;
        CDetector detector(status);
        ucsdet_setText(detector.Get(), text, *size, &status);
        std::int32_t found = 0;
        const UCharsetMatch** matches = ucsdet_detectAll(detector.Get(), &found, &status);
        if (U_FAILURE(status)) return E_FAIL;

        std::int32_t written = 0;
        for (std::int32_t i = 0; i < found && written < capacity; ++i) {
            const std::uint32_t codePage =
                WindowsCodePageOfCharset(ucsdet_getName(matches[i], &status));
            const std::int32_t confidence = ucsdet_getConfidence(matches[i], &status);
            const char* language = ucsdet_getLanguage(matches[i], &status);
            if (U_FAILURE(status)) return E_FAIL;
            if (codePage == 0) continue;
            records[written++] = {LanguageIdOf(language), codePage, 100, confidence};
        }
        *count = written;
        return written > 0 && records[0].nConfidence >= kDetectConfidenceThreshold ? Com::S_OK
                                                                                   : Com::S_FALSE;
    }

private:
    ~CMultiLanguage() = default;

    std::atomic<std::uint32_t> m_references{1};
};

}  // namespace

std::uint32_t WindowsCodePageOfCharset(const char* name) noexcept {
    if (name == nullptr) return 0;
    for (const SCharsetCodePage& c : kCharsets) {
        if (std::strcmp(c.name, name) == 0) return c.codePage;
    }
    return 0;
}

HRESULT CreateMultiLanguage(const GUID& iid, void** object) noexcept {
    auto* created = new (std::nothrow) CMultiLanguage;
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = created->QueryInterface(iid, object);
    created->Release();  // the creation reference; QueryInterface took its own on success
    return hr;
}

}  // namespace Tavrin::Platform
