// Code-page detection on Windows: the system's multi-language component (mlang), created with
// CoCreateInstance and reached through an adapter that offers the library's one-method view
// of IMultiLanguage2.
#include "core/platform/codepagedetect.h"

#include <windows.h>
// mlang.h needs the declarations of windows.h first.
#include <mlang.h>

#include <cstring>
#include <new>

namespace Tavrin::Platform {
namespace {

// The detection record of the library and of the system have the same fields in the same
// order; the adapter hands the records through unchanged.
static_assert(sizeof(DetectEncodingInfo) == sizeof(::DetectEncodingInfo));
static_assert(offsetof(DetectEncodingInfo, nCodePage) == offsetof(::DetectEncodingInfo, nCodePage));
static_assert(offsetof(DetectEncodingInfo, nConfidence) ==
              offsetof(::DetectEncodingInfo, nConfidence));

::GUID ToSystem(const GUID& guid) noexcept {
    ::GUID result;
    static_assert(sizeof result == sizeof guid);
    std::memcpy(&result, &guid, sizeof result);
    return result;
}

class CMultiLanguageAdapter final : public IMultiLanguage2 {
public:
    explicit CMultiLanguageAdapter(::IMultiLanguage2* system) noexcept : m_system(system) {}

    HRESULT QueryInterface(const GUID& iid, void** object) noexcept override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == Platform::IID_IMultiLanguage2) {
            AddRef();
            *object = static_cast<IMultiLanguage2*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    std::uint32_t AddRef() noexcept override { return ++m_references; }

    std::uint32_t Release() noexcept override {
        const std::uint32_t left = --m_references;
        if (left == 0) delete this;
        return left;
    }

    HRESULT DetectInputCodepage(std::uint32_t flags, std::uint32_t preferredCodePage,
                                const char* text, std::int32_t* size, DetectEncodingInfo* records,
                                std::int32_t* count) noexcept override {
        if (size == nullptr || count == nullptr || records == nullptr || *count < 1) {
            return E_INVALIDARG;
        }
        INT systemSize = *size;
        INT systemCount = *count;
        const HRESULT hr = m_system->DetectInputCodepage(
            flags, preferredCodePage, const_cast<CHAR*>(text), &systemSize,
            reinterpret_cast<::DetectEncodingInfo*>(records), &systemCount);
        *size = systemSize;
        *count = SUCCEEDED(hr) ? systemCount : 0;
        return hr;
    }

private:
    ~CMultiLanguageAdapter() { m_system->Release(); }

    ::IMultiLanguage2* m_system;
    std::uint32_t m_references = 1;  // single-threaded apartment: no concurrent calls
};

}  // namespace

HRESULT CreateMultiLanguage(const GUID& iid, void** object) noexcept {
    *object = nullptr;
    ::IMultiLanguage2* system = nullptr;
    const ::GUID clsid = ToSystem(CLSID_CMultiLanguage);
    const ::GUID systemIid = ToSystem(Platform::IID_IMultiLanguage2);
    HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, systemIid,
                                    reinterpret_cast<void**>(&system));
    if (FAILED(hr)) return hr;
    auto* adapter = new (std::nothrow) CMultiLanguageAdapter(system);
    if (adapter == nullptr) {
        system->Release();
        return E_OUTOFMEMORY;
    }
    hr = adapter->QueryInterface(iid, object);
    adapter->Release();  // the creation reference; QueryInterface took its own on success
    return hr;
}

}  // namespace Tavrin::Platform
