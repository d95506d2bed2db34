// The component runtime stand-in: per-thread apartments (the public half is <tavrin/com.h>)
// and object creation for the few classes the library uses.
#pragma once

#include <cstdint>

#include <tavrin/com.h>

namespace Tavrin::Platform {

using Com::HRESULT;

inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

inline constexpr unsigned int CLSCTX_INPROC_SERVER = 0x1;
inline constexpr unsigned int CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr unsigned int CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr unsigned int CLSCTX_REMOTE_SERVER = 0x10;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend constexpr bool operator==(const GUID&, const GUID&) = default;
};

inline constexpr GUID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Reference-counted object interface. Objects are destroyed by their last Release.
class IUnknown {
public:
    virtual HRESULT QueryInterface(const GUID& iid, void** object) noexcept = 0;
    virtual std::uint32_t AddRef() noexcept = 0;
    virtual std::uint32_t Release() noexcept = 0;

protected:
    ~IUnknown() = default;
};

// Creates an object of class `clsid` and returns its interface `iid` in `*object` (null on
// failure). The calling thread must be initialised (CO_E_NOTINITIALIZED otherwise). Only
// in-process classes exist; aggregation is not supported.
HRESULT CoCreateInstance(const GUID& clsid, IUnknown* outer, unsigned int clsContext,
                         const GUID& iid, void** object) noexcept;

// Holds one interface reference and releases it on every exit.
template <class I>
class CComPtr {
public:
    CComPtr() = default;
    ~CComPtr() {
        if (m_p != nullptr) m_p->Release();
    }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;

    // For the creation call's out argument; the pointer must be empty.
    void** Out() noexcept { return reinterpret_cast<void**>(&m_p); }
    I* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

private:
    I* m_p = nullptr;
};

}  // namespace Tavrin::Platform
