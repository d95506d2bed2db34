// Code-page detection in the shape of the multi-language component: an object of class
// CMultiLanguage whose IMultiLanguage2::DetectInputCodepage names the most likely Windows code
// pages of a byte text. The detector behind it is ICU's charset detector on Linux and the
// system's component on Windows (whose answers and confidence scale are its own).
#pragma once

#include <cstdint>

#include "com.h"

namespace Tavrin::Platform {

// One candidate: Windows language identifier (0 when unknown), Windows code page, share of
// the document in percent (always 100: each candidate describes the whole text), confidence
// 0 to 100.
struct DetectEncodingInfo {
    std::uint32_t nLangID;
    std::uint32_t nCodePage;
    std::int32_t nDocPercent;
    std::int32_t nConfidence;
};

inline constexpr GUID CLSID_CMultiLanguage = {
    0x275C23E2, 0x3747, 0x11D0, {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};
inline constexpr GUID IID_IMultiLanguage2 = {
    0xDCCFC164, 0x2B38, 0x11D2, {0xB7, 0xEC, 0x00, 0xC0, 0x4F, 0x8F, 0x5D, 0x9A}};

// The best candidate must reach this confidence (ICU's 0-100 scale) for full success. ICU
// gives 100 to texts it recognises by structure (multi-byte encodings, UTF-8 with several
// multi-byte sequences) and 50-65 to a few lines of Western European prose; single-byte
// Cyrillic and other weak n-gram matches stay well below and are reported as not sure.
inline constexpr std::int32_t kDetectConfidenceThreshold = 50;

class IMultiLanguage2 : public IUnknown {
public:
    // Detects the code page of `*size` bytes at `text`. On entry `*count` is the capacity of
    // `records`; on return it holds the number of candidates written, best first, and `*size`
    // the number of bytes examined. S_OK when the best candidate reaches the confidence
    // threshold, S_FALSE when there is no candidate or none is confident (records are still
    // written), E_INVALIDARG for null pointers or a capacity below 1, E_FAIL when the detector
    // fails. `flags` and `preferredCodePage` are accepted and not used.
    virtual HRESULT DetectInputCodepage(std::uint32_t flags, std::uint32_t preferredCodePage,
                                        const char* text, std::int32_t* size,
                                        DetectEncodingInfo* records,
                                        std::int32_t* count) noexcept = 0;

protected:
    ~IMultiLanguage2() = default;
};

// Class factory of CMultiLanguage, for CoCreateInstance.
HRESULT CreateMultiLanguage(const GUID& iid, void** object) noexcept;

#if !defined(_WIN32)
// The Windows code page of an ICU charset name, or 0 when there is none.
std::uint32_t WindowsCodePageOfCharset(const char* name) noexcept;
#endif

}  // namespace Tavrin::Platform
