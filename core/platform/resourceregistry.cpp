// The registry of resources that modules register themselves (<tavrin/module.h>), the same on
// every system. On Linux it is where all resources are; on Windows it comes before the
// resources that the module file carries.
#include "resources.h"

#include <cstdint>
#include <cwchar>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace Tavrin::Platform {

namespace {

// Resource types are kept in one spelling: string names in ASCII upper case, integer types as
// "#n" (the spelling by which a string names an integer type).
bool NormaliseType(const wchar_t* type, std::wstring& out) {
    const auto value = reinterpret_cast<std::uintptr_t>(type);
    if (value == 0) return false;
    if (value <= 0xFFFF) {
        out = L"#" + std::to_wstring(value);
        return true;
    }
    out.assign(type);
    if (out.empty()) return false;
    if (out.size() > 1 && out[0] == L'#' &&
        out.find_first_not_of(L"0123456789", 1) == std::wstring::npos) {
        unsigned long number = 0;
        for (std::size_t i = 1; i < out.size() && number <= 0xFFFF; ++i) {
            number = number * 10 + static_cast<unsigned long>(out[i] - L'0');
        }
        if (number == 0 || number > 0xFFFF) return false;
        out = L"#" + std::to_wstring(number);
        return true;
    }
    for (wchar_t& c : out) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return true;
}

using Key = std::tuple<std::uintptr_t, std::uint16_t, std::wstring>;

class CRegistry {
public:
    static CRegistry& Instance() {
        // Never destroyed: modules may withdraw their resources from their own static
        // destructors, after this library's would have run.
        static CRegistry* const registry = new CRegistry;
        return *registry;
    }

    bool Add(Key key, const void* data, std::uint32_t size) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.insert_or_assign(std::move(key), SResource{data, size});
        return true;
    }

    bool Remove(const Key& key, const void* data) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_entries.find(key);
        if (it == m_entries.end() || it->second.data != data) return false;
        m_entries.erase(it);
        return true;
    }

    const SResource* Find(const Key& key) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_entries.find(key);
        return it == m_entries.end() ? nullptr : &it->second;
    }

private:
    mutable std::mutex m_mutex;
    std::map<Key, SResource> m_entries;  // node-based: found entries keep their address
};

std::uintptr_t ModuleKey(HINSTANCE module) noexcept {
    return reinterpret_cast<std::uintptr_t>(module != nullptr ? module : GetMainModule());
}

// Builds the registry key; false when the identifier or the type cannot name a resource.
bool MakeKey(HINSTANCE module, int id, const wchar_t* type, Key& key) {
    const auto shortId = static_cast<std::uint16_t>(id);
    if (shortId == 0) return false;
    std::wstring normalised;
    if (!NormaliseType(type, normalised)) return false;
    key = Key(ModuleKey(module), shortId, std::move(normalised));
    return true;
}

}  // namespace

const SResource* FindRegisteredResource(HINSTANCE module, int id, const wchar_t* type) noexcept {
    try {
        Key key;
        if (!MakeKey(module, id, type, key)) return nullptr;
        return CRegistry::Instance().Find(key);
    } catch (...) {  // out of memory while building the key: nothing found
        return nullptr;
    }
}

}  // namespace Tavrin::Platform

namespace Tavrin {

bool RegisterResource(HINSTANCE module, int id, const wchar_t* type, const void* data,
                      std::size_t size) noexcept {
    if (id < 1 || id > 0xFFFF || size > std::numeric_limits<std::uint32_t>::max()) return false;
    try {
        Platform::Key key;
        if (!Platform::MakeKey(module, id, type, key)) return false;
        return Platform::CRegistry::Instance().Add(std::move(key), data,
                                                   static_cast<std::uint32_t>(size));
    } catch (...) {
        return false;
    }
}

bool UnregisterResource(HINSTANCE module, int id, const wchar_t* type, const void* data) noexcept {
    if (id < 1 || id > 0xFFFF) return false;
    try {
        Platform::Key key;
        if (!Platform::MakeKey(module, id, type, key)) return false;
        return Platform::CRegistry::Instance().Remove(key, data);
    } catch (...) {
        return false;
    }
}

}  // namespace Tavrin
