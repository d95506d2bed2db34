#include "core/tavrin/binary/valuereaders.h"

#include <cstring>

#include <tavrin/qvdatetime.h>

#include "core/basepool/utf.h"
#include "core/tavrin/common/namehash.h"

namespace Tavrin::Binary {

namespace {

// The seven fields through the setters, in their order.
void SetFields(IDateTime& target, uint64_t count) {
    const QvDateTime t = QvDateTime::FromFileTime(count);
    target.SetYear(t.GetYear());
    target.SetMonth(t.GetMonth());
    target.SetDay(t.GetDay());
    target.SetHour(t.GetHour());
    target.SetMinute(t.GetMinute());
    target.SetSecond(t.GetSecond());
    target.SetMilliseconds(t.GetMilliseconds());
}

void AssignWide(std::wstring& target, const unsigned char* record) {
    const size_t units = static_cast<size_t>(WideUnits(record));
    constexpr size_t kLocal = 256;
    if (units <= kLocal) {  // the usual short text: decoded on the stack, assigned in one go
        wchar_t local[kLocal];
        target.assign(local, Detail::DecodeUtf16(record + kWideHead, units, local));
        return;
    }
    target.resize(units);
    target.resize(Detail::DecodeUtf16(record + kWideHead, units, target.data()));
}

SBlobRange BlobOf(const unsigned char* record) noexcept {
    return {record + kNarrowHead, record + kNarrowHead + RecordLength(record)};
}

void AssignNarrow(std::string& target, const unsigned char* record) {
    target.assign(reinterpret_cast<const char*>(record + kNarrowHead), RecordLength(record));
}

}  // namespace

// ---- CDataReader -----------------------------------------------------------------------------

// The last value of this kind stored under this name (the last one wins), or null. The usual
// case, the one value of its kind in an object of the usual shape, is settled here with few
// registers; the rest is left to Scan.
inline const SEntry* CDataReader::Find(uint8_t tag, const char* name) const noexcept {
    const SObject& object = *m_object;
    const uint32_t kinds = object.kinds;
    if (!(kinds >> tag & 1u)) return nullptr;
    const uint32_t several = kinds >> SObject::kSeveralShift & 31u;
    if ((kinds & SObject::kDirect) && tag != several) {
        // Where section order puts the kind's entry; an object in another order is scanned.
        const uint32_t before = kKindsBefore.bits[tag];
        uint32_t at = KindCount(kinds & before);
        if (several != SObject::kNoSeveral && (before >> several & 1u)) {
            at += object.count - KindCount(kinds);
        }
        const SEntry* e = object.Entries() + at;
        if (e->tag == tag) return SameName(m_names[e->name], name ? name : "") ? e : nullptr;
    }
    return Scan(tag, name ? name : "");
}

[[gnu::noinline]] const SEntry* CDataReader::Scan(uint8_t tag, const char* name) const noexcept {
    const SObject& object = *m_object;
    if (object.count > kIndexThreshold) return FindIndexed(tag, name);
    // Few values: a scan from the end (the last value of a name wins) comparing the kind first
    // and the text only for values of that kind.
    const SEntry* entries = object.Entries();
    for (uint32_t i = object.count; i-- > 0;) {
        const SEntry& e = entries[i];
        if (e.tag == tag && SameName(m_names[e.name], name)) return &e;
    }
    return nullptr;
}

[[gnu::noinline]] const SEntry* CDataReader::FindIndexed(uint8_t tag,
                                                         const char* name) const noexcept {
    const SEntry* entries = m_object->Entries();
    const uint32_t mask = IndexSlots(m_object->count) - 1;
    const uint32_t* index = m_object->Index();
    const size_t length = std::strlen(name);
    const uint64_t hash = Detail::IndexHash({name, length});
    for (uint32_t slot = SlotHash(tag, hash) & mask; index[slot]; slot = (slot + 1) & mask) {
        const SEntry& e = entries[index[slot] - 1];
        const SName& n = m_names[e.name];
        if (e.tag == tag && n.hash == hash && n.length == length &&
            std::memcmp(n.text, name, length) == 0) {
            return &e;
        }
    }
    return nullptr;
}

template <class T>
inline bool CDataReader::Get(uint8_t tag, const char* name, T& value) const noexcept {
    const SEntry* e = Find(tag, name);
    if (!e) return false;
    std::memcpy(&value, &e->value, sizeof(T));
    return true;
}

unsigned int CDataReader::GetNameCount() const { return m_object->count; }

const char* CDataReader::GetName(unsigned int index) const {
    return index < m_object->count ? m_names[m_object->Entries()[index].name].text : nullptr;
}

SBlobRange CDataReader::Read(const char* name) {
    const SEntry* e = Find(kTagBlob, name);
    return e ? BlobOf(reinterpret_cast<const unsigned char*>(e->value)) : SBlobRange{};
}

bool CDataReader::Read(const char* name, ISerializableContainer& value) {
    const SEntry* e = Find(kTagContainer, name);
    if (!e) return false;
    CContainerReader reader(m_names, reinterpret_cast<const SContainer*>(e->value));
    value.Read(reader);
    return true;
}

bool CDataReader::Read(const char* name, ISerializable& value) {
    const SEntry* e = Find(kTagObject, name);
    if (!e) return false;
    CDataReader reader(m_names, reinterpret_cast<const SObject*>(e->value));
    value.Read(reader);
    return true;
}

bool CDataReader::Read(const char* name, IDateTime& value) {
    const SEntry* e = Find(kTagDateTime, name);
    if (!e) return false;
    SetFields(value, e->value);
    return true;
}

bool CDataReader::Read(const char* name, std::wstring& value) {
    const SEntry* e = Find(kTagWString, name);
    if (!e) return false;
    AssignWide(value, reinterpret_cast<const unsigned char*>(e->value));
    return true;
}

bool CDataReader::Read(const char* name, std::string& value) {
    const SEntry* e = Find(kTagString, name);
    if (!e) return false;
    AssignNarrow(value, reinterpret_cast<const unsigned char*>(e->value));
    return true;
}

bool CDataReader::Read(const char* name, bool& value) {
    const SEntry* e = Find(kTagBool, name);
    if (!e) return false;
    value = e->value != 0;
    return true;
}

bool CDataReader::Read(const char* name, char& value) { return Get(kTagChar, name, value); }
bool CDataReader::Read(const char* name, double& value) { return Get(kTagDouble, name, value); }
bool CDataReader::Read(const char* name, float& value) { return Get(kTagFloat, name, value); }
bool CDataReader::Read(const char* name, long long& value) { return Get(kTagInt64, name, value); }
bool CDataReader::Read(const char* name, unsigned long long& value) {
    return Get(kTagUInt64, name, value);
}
bool CDataReader::Read(const char* name, int& value) { return Get(kTagInt32, name, value); }
bool CDataReader::Read(const char* name, unsigned int& value) {
    return Get(kTagUInt32, name, value);
}
bool CDataReader::Read(const char* name, short& value) { return Get(kTagInt16, name, value); }
bool CDataReader::Read(const char* name, unsigned short& value) {
    return Get(kTagUInt16, name, value);
}
bool CDataReader::Read(const char* name, signed char& value) { return Get(kTagInt8, name, value); }
bool CDataReader::Read(const char* name, unsigned char& value) {
    return Get(kTagUInt8, name, value);
}

// ---- CContainerReader ------------------------------------------------------------------------

// Element `index` as stored (the stored width equals sizeof(T) for the tag asked for).
template <class T>
inline bool CContainerReader::Get(uint8_t tag, unsigned int index, T& value) const noexcept {
    if (m_container->tag != tag || index >= m_container->count) return false;
    // NOLINTNEXTLINE(bugprone-sizeof-expression): T may be a pointer type; its size is meant
    constexpr size_t kSize = sizeof(T);
    std::memcpy(&value, m_container->Elements() + static_cast<size_t>(index) * kSize, kSize);
    return true;
}

SBlobRange CContainerReader::Read(unsigned int index) {
    const unsigned char* record = nullptr;
    return Get(kTagBlob, index, record) ? BlobOf(record) : SBlobRange{};
}

bool CContainerReader::Read(unsigned int index, ISerializableContainer& value) {
    const SContainer* child = nullptr;
    if (!Get(kTagContainer, index, child)) return false;
    CContainerReader reader(m_names, child);
    value.Read(reader);
    return true;
}

bool CContainerReader::Read(unsigned int index, ISerializable& value) {
    const SObject* child = nullptr;
    if (!Get(kTagObject, index, child)) return false;
    CDataReader reader(m_names, child);
    value.Read(reader);
    return true;
}

bool CContainerReader::Read(unsigned int index, IDateTime& value) {
    uint64_t count = 0;
    if (!Get(kTagDateTime, index, count)) return false;
    SetFields(value, count);
    return true;
}

bool CContainerReader::Read(unsigned int index, std::wstring& value) {
    const unsigned char* record = nullptr;
    if (!Get(kTagWString, index, record)) return false;
    AssignWide(value, record);
    return true;
}

bool CContainerReader::Read(unsigned int index, std::string& value) {
    const unsigned char* record = nullptr;
    if (!Get(kTagString, index, record)) return false;
    AssignNarrow(value, record);
    return true;
}

bool CContainerReader::Read(unsigned int index, bool& value) {
    unsigned char byte = 0;
    if (!Get(kTagBool, index, byte)) return false;
    value = byte != 0;
    return true;
}

bool CContainerReader::Read(unsigned int index, char& value) { return Get(kTagChar, index, value); }
bool CContainerReader::Read(unsigned int index, double& value) {
    return Get(kTagDouble, index, value);
}
bool CContainerReader::Read(unsigned int index, float& value) {
    return Get(kTagFloat, index, value);
}
bool CContainerReader::Read(unsigned int index, long long& value) {
    return Get(kTagInt64, index, value);
}
bool CContainerReader::Read(unsigned int index, unsigned long long& value) {
    return Get(kTagUInt64, index, value);
}
bool CContainerReader::Read(unsigned int index, int& value) { return Get(kTagInt32, index, value); }
bool CContainerReader::Read(unsigned int index, unsigned int& value) {
    return Get(kTagUInt32, index, value);
}
bool CContainerReader::Read(unsigned int index, short& value) {
    return Get(kTagInt16, index, value);
}
bool CContainerReader::Read(unsigned int index, unsigned short& value) {
    return Get(kTagUInt16, index, value);
}
bool CContainerReader::Read(unsigned int index, signed char& value) {
    return Get(kTagInt8, index, value);
}
bool CContainerReader::Read(unsigned int index, unsigned char& value) {
    return Get(kTagUInt8, index, value);
}

}  // namespace Tavrin::Binary
