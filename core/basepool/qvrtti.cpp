#include <tavrin/qvrtti.h>

#include <map>
#include <mutex>
#include <string>

namespace {

struct SRegistry {
    std::mutex mutex;
    std::map<std::wstring, QvRTTI::CloneFunction, std::less<>> clones;
};

SRegistry& Registry() {
    static SRegistry registry;
    return registry;
}

}  // namespace

namespace QvRTTI {

CloneFunction getClone(const wchar_t* className) {
    if (!className) return nullptr;
    SRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    const auto it = registry.clones.find(std::wstring_view(className));
    return it == registry.clones.end() ? nullptr : it->second;
}

void registerClone(const wchar_t* className, CloneFunction clone) {
    if (!className) return;
    SRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (clone) {
        registry.clones.insert_or_assign(std::wstring(className), clone);
    } else {
        const auto it = registry.clones.find(std::wstring_view(className));
        if (it != registry.clones.end()) registry.clones.erase(it);
    }
}

}  // namespace QvRTTI
