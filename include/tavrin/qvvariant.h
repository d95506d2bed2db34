/// \file
/// QvVariant: one value of any of the library's value kinds, with the conversion rules between
/// kinds. The text readers keep document text in variants (or hand it to the ConvertText
/// functions) and ask for the kind that the application's Read wants, so these rules decide
/// which texts a document may hold for each value type.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <tavrin/export.h>
#include <tavrin/qvarray.h>
#include <tavrin/qvdatetime.h>
#include <tavrin/qvrtti.h>

/// Every failure is a QvExceptionConversion naming the raising member; each kind of failure has
/// a raising place of its own. Narrow and wide strings convert into each other through the
/// thread's ANSI code page, UTF-8 here. Text conversions of floating values use the calling
/// thread's current C-runtime locale.
///
/// Ownership: a variant owns what it holds. Strings, byte arrays and date-times are copies; an
/// object is a clone made through the class's registered clone function (QvRTTI), or the object
/// handed over as a std::unique_ptr. Clear, the destructor and every assignment of another kind
/// release it. Pointers and references returned by the accessors stay valid until the variant is
/// next assigned, converted or destroyed.
class TAVRIN_API QvVariant {
public:
    /// Kind codes; the numbers are part of the behaviour.
    enum EKind : unsigned int {
        KindEmpty = 0,      ///< no value
        KindBool = 1,       ///< bool
        KindInt32 = 2,      ///< int
        KindInt64 = 3,      ///< long long (and long)
        KindUInt32 = 4,     ///< unsigned int
        KindFloat = 5,      ///< float
        KindDouble = 6,     ///< double
        KindChar = 7,       ///< char
        KindStringW = 8,    ///< std::wstring
        KindByteArray = 9,  ///< QvArray<unsigned char>
        KindDateTime = 10,  ///< QvDateTime
        KindReserved = 11,  ///< never produced; copying and converting reject it
        KindInt8 = 12,      ///< signed char
        KindUInt8 = 13,     ///< unsigned char
        KindInt16 = 14,     ///< short
        KindUInt16 = 15,    ///< unsigned short
        KindUInt64 = 16,    ///< unsigned long long (and unsigned long)
        KindObject = 17,    ///< an IObject, owned
        KindStringA = 18,   ///< std::string
    };

    /// Which form a text handed to ConvertText stands for: a narrow string, or the wide string
    /// that is the UTF-8 decoding of the bytes. The form decides the rules that differ (length of
    /// a char in bytes or in UTF-16 units) and the raising places of failures.
    enum class ETextForm {
        Narrow,  ///< the bytes are a narrow string
        Wide     ///< the bytes are the UTF-8 form of a wide string
    };

    /// An empty variant (KindEmpty).
    QvVariant() noexcept = default;
    /// Starts empty, then assigns `other` (may throw as operator= does).
    QvVariant(const QvVariant& other);
    /// Takes over the payload; `other` is left empty.
    QvVariant(QvVariant&& other) noexcept;
    ~QvVariant();

    /// A variant holding `value`, as the matching typed assignment makes it.
    template <class T, class = std::enable_if_t<!std::is_same_v<std::remove_cvref_t<T>, QvVariant>>>
    explicit QvVariant(T&& value) {
        *this = std::forward<T>(value);
    }

    /// Releases the payload and sets kind 0.
    void Clear() noexcept;

    /// Copies `other`: scalars by value, strings, byte array and date-time as new copies, an
    /// object through the clone function registered for its class. Throws when `other` holds
    /// kind 11 or an unknown kind, leaving the target as it was, and when the object cannot be
    /// cloned (null, no clone function registered, or the clone function gives null), leaving
    /// the target of kind object holding no object.
    QvVariant& operator=(const QvVariant& other);
    /// Takes over the payload; `other` is left empty.
    QvVariant& operator=(QvVariant&& other) noexcept;

    /// Typed assignments: the variant takes the value's kind. A string or array already held is
    /// overwritten in place. A null narrow or wide text stores an empty string.
    ///@{
    QvVariant& operator=(const char* text);
    QvVariant& operator=(const wchar_t* text);
    QvVariant& operator=(std::string_view text);
    QvVariant& operator=(std::wstring_view text);
    QvVariant& operator=(const std::string& text);
    QvVariant& operator=(std::string&& text);
    QvVariant& operator=(const std::wstring& text);
    QvVariant& operator=(std::wstring&& text);
    QvVariant& operator=(const QvArray<unsigned char>& bytes);
    QvVariant& operator=(QvArray<unsigned char>&& bytes);
    QvVariant& operator=(const QvDateTime& value);
    ///@}
    /// Clones `object` through the registry; throws when no clone can be made (no clone
    /// function registered, or it gives null), leaving kind object holding no object.
    QvVariant& operator=(const IObject& object);
    /// Takes ownership of `object` (null gives kind object holding no object).
    QvVariant& operator=(std::unique_ptr<IObject> object) noexcept;
    /// Stores `value` with the kind of its type (see EKind; long and long long are kind 3,
    /// unsigned long and unsigned long long kind 16), releasing what was held.
    ///@{
    QvVariant& operator=(bool value) noexcept;
    QvVariant& operator=(char value) noexcept;
    QvVariant& operator=(signed char value) noexcept;
    QvVariant& operator=(unsigned char value) noexcept;
    QvVariant& operator=(short value) noexcept;
    QvVariant& operator=(unsigned short value) noexcept;
    QvVariant& operator=(int value) noexcept;
    QvVariant& operator=(unsigned int value) noexcept;
    QvVariant& operator=(long value) noexcept;
    QvVariant& operator=(unsigned long value) noexcept;
    QvVariant& operator=(long long value) noexcept;
    QvVariant& operator=(unsigned long long value) noexcept;
    QvVariant& operator=(float value) noexcept;
    QvVariant& operator=(double value) noexcept;
    ///@}

    /// The kind of the value held (KindEmpty for a new or cleared variant).
    EKind GetKind() const noexcept { return static_cast<EKind>(m_kind); }

    /// Checked accessors: a reference to the stored value, valid while the variant holds it;
    /// each throws when the kind differs (no conversion is attempted).
    ///@{
    operator bool&();
    operator char&();
    operator signed char&();
    operator unsigned char&();
    operator short&();
    operator unsigned short&();
    operator int&();
    operator unsigned int&();
    operator long long&();
    operator unsigned long long&();
    operator float&();
    operator double&();
    operator const std::string&() const;
    operator const std::wstring&() const;
    operator const QvArray<unsigned char>&() const;
    operator const QvDateTime&() const;
    operator const char*() const;
    operator const wchar_t*() const;
    ///@}
    /// The object held (kind 17, possibly null); null for any other kind.
    const IObject* GetObjectPointer() const noexcept;

    /// Converting accessors: the value converted to the kind (by ConvertTo on a copy); the
    /// variant itself is unchanged. Throw what the conversion throws.
    ///@{
    bool ToBool() const;
    char ToChar() const;
    signed char ToInt8() const;
    unsigned char ToUInt8() const;
    short ToInt16() const;
    unsigned short ToUInt16() const;
    int ToInt32() const;
    unsigned int ToUInt32() const;
    long long ToInt64() const;
    unsigned long long ToUInt64() const;
    float ToFloat() const;
    double ToDouble() const;
    std::string ToStringA() const;
    std::wstring ToStringW() const;
    QvDateTime ToDateTime() const;
    ///@}

    /// Converts in place. Kind 0 clears; a byte array, kind 11, an object and unknown codes as
    /// targets throw; a date-time is made only from a string or a date-time (anything else
    /// throws). What a step throws passes through; any other exception (memory exhaustion, for
    /// example) becomes a QvExceptionConversion of ConvertTo. A failing conversion leaves the
    /// value as it was.
    void ConvertTo(EKind kind);

    /// The conversion steps, each in place. A source kind without a rule throws with the step's
    /// name; the value is left as it was.
    ///
    /// Integer targets keep the low bits of their width. A floating source is first rounded
    /// (integral values stay, others become floor(x + 0.5)) and then truncated through a 32-bit
    /// (int8, int16, int32 targets) or 64-bit signed integer (uint8, uint16, uint32, int64) or
    /// the unsigned 64-bit conversion (uint64). A NaN, an infinity or a value outside the range
    /// of that intermediate gives its "integer indefinite" value, 0x80000000 or
    /// 0x8000000000000000, as x86 conversions do; for uint64, values in (-2^63, 0) wrap modulo
    /// 2^64.
    ///@{
    void convertToBool();
    void convertToChar();
    void convertToInt8();
    void convertToUInt8();
    void convertToInt16();
    void convertToUInt16();
    void convertToInt32();
    void convertToUInt32();
    void convertToInt64();
    void convertToUInt64();
    void convertToFloat();
    void convertToDouble();
    ///@}
    /// An empty variant, a byte array, an object or kind 11 as the source throws; so does a
    /// `kind` other than KindStringA or KindStringW (checked after the source).
    void convertToString(EKind kind);

    /// Text functions. Zero-terminated and counted forms follow the same rules; a counted text
    /// ends at its size or its first NUL. White space means the ASCII space, tab, line feed,
    /// vertical tab, form feed and carriage return in both forms; digits are ASCII digits.
    ///
    /// "true" in any letter case or exactly "1" -> true; "false" in any case or exactly "0" ->
    /// false; anything else throws (the narrow and the wide forms from places of their own).
    ///@{
    static bool stringToBool(const char* text);
    static bool stringToBool(const wchar_t* text);
    static bool stringToBool(std::string_view text);
    static bool stringToBool(std::wstring_view text);
    ///@}
    /// Leading white space, an optional sign, then decimal digits, or hexadecimal after 0x/0X,
    /// or octal after a leading 0; the rest of the text is ignored. The number accumulates
    /// modulo 2^64 (no saturation) and a minus sign negates modulo 2^64. No digit at all throws
    /// (narrow and wide from places of their own); so does "0x" without a hexadecimal digit
    /// after it.
    ///@{
    static long long stringToInt(const char* text);
    static long long stringToInt(const wchar_t* text);
    static long long stringToInt(std::string_view text);
    static long long stringToInt(std::wstring_view text);
    ///@}
    /// As stringToInt but decimal only (0x1F gives 0); a minus sign wraps modulo 2^64.
    /// Throws when no digit is found, from places of its own.
    ///@{
    static unsigned long long stringToUInt(const char* text);
    static unsigned long long stringToUInt(const wchar_t* text);
    static unsigned long long stringToUInt(std::string_view text);
    static unsigned long long stringToUInt(std::wstring_view text);
    ///@}
    /// strtod/wcstod in the thread's current locale over the whole text: leading white space
    /// accepted, anything left over (trailing white space too) throws; "" gives 0.0.
    ///@{
    static double stringToDouble(const char* text);
    static double stringToDouble(const wchar_t* text);
    static double stringToDouble(std::string_view text);
    static double stringToDouble(std::wstring_view text);
    ///@}
    /// "%f" in the thread's current locale (six digits after the decimal separator).
    /// Throws when the C library's printing fails (the buffer holds the text of any double).
    static std::string floatToString(double value);

    /// What a variant holding `text` (as a narrow string, or as the wide string decoded from it,
    /// see ETextForm) gives for the matching converting accessor, without building the variant:
    /// same results, same exceptions. `value` is assigned only on success.
    ///@{
    static void ConvertText(std::string_view text, ETextForm form, bool& value);
    static void ConvertText(std::string_view text, ETextForm form, char& value);
    static void ConvertText(std::string_view text, ETextForm form, signed char& value);
    static void ConvertText(std::string_view text, ETextForm form, unsigned char& value);
    static void ConvertText(std::string_view text, ETextForm form, short& value);
    static void ConvertText(std::string_view text, ETextForm form, unsigned short& value);
    static void ConvertText(std::string_view text, ETextForm form, int& value);
    static void ConvertText(std::string_view text, ETextForm form, unsigned int& value);
    static void ConvertText(std::string_view text, ETextForm form, long long& value);
    static void ConvertText(std::string_view text, ETextForm form, unsigned long long& value);
    static void ConvertText(std::string_view text, ETextForm form, float& value);
    static void ConvertText(std::string_view text, ETextForm form, double& value);
    static void ConvertText(std::string_view text, ETextForm form, std::string& value);
    static void ConvertText(std::string_view text, ETextForm form, std::wstring& value);
    static void ConvertText(std::string_view text, ETextForm form, QvDateTime& value);
    ///@}

private:
    /// The converted value of the held one, each with the checks of its conversion step;
    /// the variant is not changed. `step` indexes the integer targets of the implementation.
    ///@{
    unsigned long long integerBits(unsigned int step) const;
    bool boolValue() const;
    char charValue() const;
    float floatValue() const;
    double doubleValue() const;
    std::string stringAValue() const;
    std::wstring stringWValue() const;
    QvDateTime dateTimeValue() const;
    ///@}
    /// Throws what copying this variant would throw (an object that cannot be cloned).
    void checkCopyable() const;
    void setKind(unsigned int kind) noexcept;
    std::string& prepareStringA();
    std::wstring& prepareStringW();
    void copyFrom(const QvVariant& other);

    union UPayload {
        bool b;
        char c;
        signed char i8;
        unsigned char u8;
        short i16;
        unsigned short u16;
        int i32;
        unsigned int u32;
        long long i64;
        unsigned long long u64;
        float f;
        double d;
        std::string* stringA;
        std::wstring* stringW;
        QvArray<unsigned char>* bytes;
        QvDateTime* dateTime;
        IObject* object;
    };

    unsigned int m_kind = KindEmpty;
    UPayload m_value{.u64 = 0};
};
