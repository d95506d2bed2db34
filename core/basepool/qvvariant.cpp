// QvVariant's lifetime, assignments and checked accessors: what the variant holds and who owns
// it. The conversions between kinds are in qvvariantconvert.cpp, the text functions in
// qvvarianttext.cpp.
#include <tavrin/qvvariant.h>

#include "core/basepool/raise.h"

namespace {

using Tavrin::Detail::ERaise;
using Tavrin::Detail::Raise;

}  // namespace

// ---- lifetime and assignment: strings, byte arrays, date-times and objects are owned copies ----

QvVariant::QvVariant(const QvVariant& other) { *this = other; }

QvVariant::QvVariant(QvVariant&& other) noexcept : m_kind(other.m_kind), m_value(other.m_value) {
    other.m_kind = KindEmpty;
    other.m_value.u64 = 0;
}

QvVariant::~QvVariant() { Clear(); }

void QvVariant::Clear() noexcept {
    switch (m_kind) {
        case KindStringA: delete m_value.stringA; break;
        case KindStringW: delete m_value.stringW; break;
        case KindByteArray: delete m_value.bytes; break;
        case KindDateTime: delete m_value.dateTime; break;
        case KindObject: delete m_value.object; break;
        default: break;
    }
    m_kind = KindEmpty;
    m_value.u64 = 0;
}

void QvVariant::setKind(unsigned int kind) noexcept {
    Clear();
    m_kind = kind;
}

QvVariant& QvVariant::operator=(const QvVariant& other) {
    if (this == &other) return *this;
    if (other.m_kind == KindReserved || other.m_kind > KindStringA) {
        Raise(ERaise::VariantAssignKind);
    }
    copyFrom(other);
    return *this;
}

void QvVariant::copyFrom(const QvVariant& other) {
    switch (other.m_kind) {
        case KindStringA: *this = *other.m_value.stringA; return;
        case KindStringW: *this = *other.m_value.stringW; return;
        case KindByteArray: *this = *other.m_value.bytes; return;
        case KindDateTime: *this = *other.m_value.dateTime; return;
        case KindObject: {
            setKind(KindObject);  // a failed clone leaves kind object holding nothing
            const IObject* source = other.m_value.object;
            if (!source) Raise(ERaise::VariantAssignClone);
            const QvRTTI::CloneFunction clone = QvRTTI::getClone(source->GetRuntimeClassName());
            if (!clone) Raise(ERaise::VariantAssignClone);
            IObject* copy = clone(*source);
            if (!copy) Raise(ERaise::VariantAssignClone);
            m_value.object = copy;
            return;
        }
        default:
            Clear();
            m_kind = other.m_kind;
            m_value = other.m_value;
            return;
    }
}

QvVariant& QvVariant::operator=(QvVariant&& other) noexcept {
    if (this != &other) {
        Clear();
        m_kind = other.m_kind;
        m_value = other.m_value;
        other.m_kind = KindEmpty;
        other.m_value.u64 = 0;
    }
    return *this;
}

std::string& QvVariant::prepareStringA() {
    if (m_kind != KindStringA) {
        auto* text = new std::string();
        setKind(KindStringA);
        m_value.stringA = text;
    }
    return *m_value.stringA;
}

std::wstring& QvVariant::prepareStringW() {
    if (m_kind != KindStringW) {
        auto* text = new std::wstring();
        setKind(KindStringW);
        m_value.stringW = text;
    }
    return *m_value.stringW;
}

QvVariant& QvVariant::operator=(const char* text) {
    return *this = std::string_view(text ? text : "");
}

QvVariant& QvVariant::operator=(const wchar_t* text) {
    return *this = std::wstring_view(text ? text : L"");
}

// assign() copes with a view into the held string itself.
QvVariant& QvVariant::operator=(std::string_view text) {
    prepareStringA().assign(text.data(), text.size());
    return *this;
}

QvVariant& QvVariant::operator=(std::wstring_view text) {
    prepareStringW().assign(text.data(), text.size());
    return *this;
}

QvVariant& QvVariant::operator=(const std::string& text) {
    prepareStringA() = text;
    return *this;
}

QvVariant& QvVariant::operator=(std::string&& text) {
    prepareStringA() = std::move(text);
    return *this;
}

QvVariant& QvVariant::operator=(const std::wstring& text) {
    prepareStringW() = text;
    return *this;
}

QvVariant& QvVariant::operator=(std::wstring&& text) {
    prepareStringW() = std::move(text);
    return *this;
}

QvVariant& QvVariant::operator=(const QvArray<unsigned char>& bytes) {
    if (m_kind == KindByteArray) {
        *m_value.bytes = bytes;
    } else {
        auto* copy = new QvArray<unsigned char>(bytes);
        setKind(KindByteArray);
        m_value.bytes = copy;
    }
    return *this;
}

QvVariant& QvVariant::operator=(QvArray<unsigned char>&& bytes) {
    if (m_kind == KindByteArray) {
        *m_value.bytes = std::move(bytes);
    } else {
        auto* moved = new QvArray<unsigned char>(std::move(bytes));
        setKind(KindByteArray);
        m_value.bytes = moved;
    }
    return *this;
}

QvVariant& QvVariant::operator=(const QvDateTime& value) {
    if (m_kind == KindDateTime) {
        *m_value.dateTime = value;
    } else {
        auto* copy = new QvDateTime(value);
        setKind(KindDateTime);
        m_value.dateTime = copy;
    }
    return *this;
}

QvVariant& QvVariant::operator=(const IObject& object) {
    if (m_kind == KindObject && m_value.object == &object) return *this;
    // Clone before releasing the held object: `object` may be owned by it.
    const QvRTTI::CloneFunction clone = QvRTTI::getClone(object.GetRuntimeClassName());
    IObject* copy = clone ? clone(object) : nullptr;
    setKind(KindObject);
    if (!copy) Raise(ERaise::VariantAssignClone);
    m_value.object = copy;
    return *this;
}

QvVariant& QvVariant::operator=(std::unique_ptr<IObject> object) noexcept {
    setKind(KindObject);
    m_value.object = object.release();
    return *this;
}

// Macro parameters that stand for type names cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define TAVRIN_VARIANT_ASSIGN_SCALAR(Type, kind, member, stored) \
    QvVariant& QvVariant::operator=(Type value) noexcept {       \
        if (m_kind != (kind)) setKind(kind);                     \
        m_value.member = (stored);                               \
        return *this;                                            \
    }

TAVRIN_VARIANT_ASSIGN_SCALAR(bool, KindBool, b, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(char, KindChar, c, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(signed char, KindInt8, i8, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(unsigned char, KindUInt8, u8, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(short, KindInt16, i16, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(unsigned short, KindUInt16, u16, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(int, KindInt32, i32, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(unsigned int, KindUInt32, u32, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(long, KindInt64, i64, static_cast<long long>(value))
TAVRIN_VARIANT_ASSIGN_SCALAR(unsigned long, KindUInt64, u64, static_cast<unsigned long long>(value))
TAVRIN_VARIANT_ASSIGN_SCALAR(long long, KindInt64, i64, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(unsigned long long, KindUInt64, u64, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(float, KindFloat, f, value)
TAVRIN_VARIANT_ASSIGN_SCALAR(double, KindDouble, d, value)

#undef TAVRIN_VARIANT_ASSIGN_SCALAR
// NOLINTEND(bugprone-macro-parentheses)

// ---- checked accessors: the stored value itself, of its own kind only ---------------------------

// Macro parameters that stand for type names cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define TAVRIN_VARIANT_ACCESSOR(Type, kind, member, failure) \
    QvVariant::operator Type&() {                            \
        if (m_kind != (kind)) Raise(failure);                \
        return m_value.member;                               \
    }

TAVRIN_VARIANT_ACCESSOR(bool, KindBool, b, ERaise::VariantAsBool)
TAVRIN_VARIANT_ACCESSOR(char, KindChar, c, ERaise::VariantAsChar)
TAVRIN_VARIANT_ACCESSOR(signed char, KindInt8, i8, ERaise::VariantAsInt8)
TAVRIN_VARIANT_ACCESSOR(unsigned char, KindUInt8, u8, ERaise::VariantAsUInt8)
TAVRIN_VARIANT_ACCESSOR(short, KindInt16, i16, ERaise::VariantAsInt16)
TAVRIN_VARIANT_ACCESSOR(unsigned short, KindUInt16, u16, ERaise::VariantAsUInt16)
TAVRIN_VARIANT_ACCESSOR(int, KindInt32, i32, ERaise::VariantAsInt32)
TAVRIN_VARIANT_ACCESSOR(unsigned int, KindUInt32, u32, ERaise::VariantAsUInt32)
TAVRIN_VARIANT_ACCESSOR(long long, KindInt64, i64, ERaise::VariantAsInt64)
TAVRIN_VARIANT_ACCESSOR(unsigned long long, KindUInt64, u64, ERaise::VariantAsUInt64)
TAVRIN_VARIANT_ACCESSOR(float, KindFloat, f, ERaise::VariantAsFloat)
TAVRIN_VARIANT_ACCESSOR(double, KindDouble, d, ERaise::VariantAsDouble)

#undef TAVRIN_VARIANT_ACCESSOR
// NOLINTEND(bugprone-macro-parentheses)

QvVariant::operator const std::string&() const {
    if (m_kind != KindStringA) Raise(ERaise::VariantAsStringA);
    return *m_value.stringA;
}

QvVariant::operator const std::wstring&() const {
    if (m_kind != KindStringW) Raise(ERaise::VariantAsStringW);
    return *m_value.stringW;
}

QvVariant::operator const QvArray<unsigned char>&() const {
    if (m_kind != KindByteArray) Raise(ERaise::VariantAsByteArray);
    return *m_value.bytes;
}

QvVariant::operator const QvDateTime&() const {
    if (m_kind != KindDateTime) Raise(ERaise::VariantAsDateTime);
    return *m_value.dateTime;
}

QvVariant::operator const char*() const {
    if (m_kind != KindStringA) Raise(ERaise::VariantAsTextA);
    return m_value.stringA->c_str();
}

QvVariant::operator const wchar_t*() const {
    if (m_kind != KindStringW) Raise(ERaise::VariantAsTextW);
    return m_value.stringW->c_str();
}

const IObject* QvVariant::GetObjectPointer() const noexcept {
    return m_kind == KindObject ? m_value.object : nullptr;
}
