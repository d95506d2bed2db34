// Every place in the library that raises an exception, in one table: an identifier, the
// exception class, the source file, the line and the function that the exception reports.
//
// The file is a fixed text (the path of the raising source below the source root), not
// __FILE__, so that an exception says the same wherever the sources are built or moved. Code
// raises by identifier: Raise(ERaise::JsonMemberColon).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

// Exception classes: Exception = Tavrin::CException, Conversion = QvExceptionConversion,
// Container = QvExceptionContainer, Version = QvExceptionWrongFileVersion.
//
// A function of nullptr marks a family of places whose function is the failing operation
// itself (a typed stream read, a member of a class template); those raise with
// Raise(id, function).
#define TAVRIN_RAISING_PLACES(X)                                                                  \
    /* Date-time text parsing. */                                                                 \
    X(DateTimeParse, Conversion, "core/basepool/qvdatetime.cpp", 225, "QvDateTime::QvDateTime")   \
    X(DateTimeParseLocal, Conversion, "core/basepool/qvdatetime.cpp", 248,                        \
      "QvDateTime::QvDateTime")                                                                   \
    X(DateTimeParseWideLocal, Conversion, "core/basepool/qvdatetime.cpp", 299,                    \
      "QvDateTime::QvDateTime")                                                                   \
    /* Variant assignment, typed access and conversions. */                                       \
    X(VariantAssignKind, Conversion, kVariant, 201, "QvVariant::operator =")                      \
    X(VariantAssignClone, Conversion, kVariant, 399, "QvVariant::operator =")                     \
    X(VariantAsBool, Conversion, kVariant, 216, "QvVariant::operator bool &")                     \
    X(VariantAsChar, Conversion, kVariant, 217, "QvVariant::operator char &")                     \
    X(VariantAsInt8, Conversion, kVariant, 218, "QvVariant::operator signed char &")              \
    X(VariantAsUInt8, Conversion, kVariant, 219, "QvVariant::operator unsigned char &")           \
    X(VariantAsInt16, Conversion, kVariant, 220, "QvVariant::operator short &")                   \
    X(VariantAsUInt16, Conversion, kVariant, 221, "QvVariant::operator unsigned short &")         \
    X(VariantAsInt32, Conversion, kVariant, 222, "QvVariant::operator int &")                     \
    X(VariantAsUInt32, Conversion, kVariant, 223, "QvVariant::operator unsigned int &")           \
    X(VariantAsInt64, Conversion, kVariant, 224, "QvVariant::operator __int64 &")                 \
    X(VariantAsUInt64, Conversion, kVariant, 225, "QvVariant::operator unsigned __int64 &")       \
    X(VariantAsFloat, Conversion, kVariant, 226, "QvVariant::operator float &")                   \
    X(VariantAsDouble, Conversion, kVariant, 227, "QvVariant::operator double &")                 \
    X(VariantAsStringA, Conversion, kVariant, 228,                                                \
      "QvVariant::operator const class ATL::CStringT<char,class ATL::StrTraitATL<char,class "     \
      "ATL::ChTraitsCRT<char> > > &")                                                             \
    X(VariantAsStringW, Conversion, kVariant, 229,                                                \
      "QvVariant::operator const class ATL::CStringT<wchar_t,class "                              \
      "ATL::StrTraitATL<wchar_t,class "                                                           \
      "ATL::ChTraitsCRT<wchar_t> > > &")                                                          \
    X(VariantAsByteArray, Conversion, kVariant, 230,                                              \
      "QvVariant::operator const class QvArray<unsigned char> &")                                 \
    X(VariantAsDateTime, Conversion, kVariant, 231,                                               \
      "QvVariant::operator const class QvDateTime &")                                             \
    X(VariantAsTextA, Conversion, kVariant, 235, "QvVariant::operator const char *")              \
    X(VariantAsTextW, Conversion, kVariant, 237, "QvVariant::operator const wchar_t *")           \
    X(VariantConvertDateTime, Conversion, kVariant, 557, "QvVariant::ConvertTo")                  \
    X(VariantConvertKind, Conversion, kVariant, 562, "QvVariant::ConvertTo")                      \
    X(VariantConvertOther, Conversion, kVariant, 571, "QvVariant::ConvertTo")                     \
    X(VariantStringToDouble, Conversion, kVariant, 702, "stringToDouble")                         \
    X(VariantFloatToString, Conversion, kVariant, 720, "floatToString")                           \
    X(VariantStringToBoolNarrow, Conversion, kVariant, 749, "stringToBool")                       \
    X(VariantStringToBoolWide, Conversion, kVariant, 777, "stringToBool")                         \
    X(VariantStringToIntNarrow, Conversion, kVariant, 794, "stringToInt")                         \
    X(VariantStringToIntWide, Conversion, kVariant, 812, "stringToInt")                           \
    X(VariantStringToUIntNarrow, Conversion, kVariant, 830, "stringToUInt")                       \
    X(VariantStringToUIntWide, Conversion, kVariant, 848, "stringToUInt")                         \
    X(VariantToBool, Conversion, kVariant, 882, "convertToBool")                                  \
    X(VariantToInt8, Conversion, kVariant, 916, "convertToInt8")                                  \
    X(VariantToCharNarrow, Conversion, kVariant, 926, "convertToChar")                            \
    X(VariantToCharWide, Conversion, kVariant, 929, "convertToChar")                              \
    X(VariantToUInt8, Conversion, kVariant, 969, "convertToUInt8")                                \
    X(VariantToInt16, Conversion, kVariant, 1003, "convertToInt16")                               \
    X(VariantToUInt16, Conversion, kVariant, 1037, "convertToUInt16")                             \
    X(VariantToInt32, Conversion, kVariant, 1071, "convertToInt32")                               \
    X(VariantToUInt32, Conversion, kVariant, 1105, "convertToUInt32")                             \
    X(VariantToInt64, Conversion, kVariant, 1139, "convertToInt64")                               \
    X(VariantToUInt64, Conversion, kVariant, 1173, "convertToUInt64")                             \
    X(VariantToFloat, Conversion, kVariant, 1223, "convertToFloat")                               \
    X(VariantToDouble, Conversion, kVariant, 1271, "convertToDouble")                             \
    X(VariantToStringEmpty, Conversion, kVariant, 1326, "convertToString")                        \
    X(VariantToStringSource, Conversion, kVariant, 1328, "convertToString")                       \
    X(VariantToStringTarget, Conversion, kVariant, 1342, "convertToString")                       \
    /* Keyed table node pool and storage policy (members of class templates). */                  \
    X(PoolZeroBlockSize, Container, "core/basepool/qvplexmanager.cpp", 188, nullptr)              \
    X(PoolOutOfMemory, Container, "core/basepool/qvplexmanager.cpp", 313, nullptr)                \
    X(PoolReplacedOnNonEmptyMap, Container, "core/basepool/qvmappolicyplexmanager.cpp", 275,      \
      nullptr)                                                                                    \
    /* Read streams; the typed reads name themselves. */                                          \
    X(StreamNewerVersion, Version, kStreamRead, 41, "QvStreamRead::ReadAndCompareVersion")        \
    X(StreamTruncated, Exception, kStreamRead, 120, nullptr)                                      \
    X(StreamNotWideText, Exception, kStreamRead, 130, nullptr)                                    \
    X(StreamTextTruncated, Exception, kStreamRead, 140, nullptr)                                  \
    X(StreamConsumeWithoutMemory, Exception, kStreamRead, 150, "QvStreamReadBinary::Consume")     \
    X(StreamConsumePastEnd, Exception, kStreamRead, 160, "QvStreamReadBinaryBuffer::Consume")     \
    /* File streams. */                                                                           \
    X(FileOpenWrite, Exception, kStreamFile, 30,                                                  \
      "QvStreamWriteBinaryFile::QvStreamWriteBinaryFile")                                         \
    X(FileWrite, Exception, kStreamFile, 40, nullptr)                                             \
    X(FileWriteClosed, Exception, kStreamFile, 45, nullptr)                                       \
    X(FileClose, Exception, kStreamFile, 50, "QvStreamWriteBinaryFile::Close")                    \
    X(FileOpenRead, Exception, kStreamFile, 60, "QvStreamReadBinaryFile::QvStreamReadBinaryFile") \
    X(FileRead, Exception, kStreamFile, 70, "QvStreamReadBinaryFile::ReadBytes")                  \
    TAVRIN_RAISING_PLACES_FORMATS(X)

// The formats and text functions.
#define TAVRIN_RAISING_PLACES_FORMATS(X)                                                           \
    /* Binary writer. */                                                                           \
    X(BinaryElementKind, Exception, kWriterBinary, 199, "Tavrin::CContainerWriterBinary::write")   \
    X(BinaryBlobElementKind, Exception, kWriterBinary, 511,                                        \
      "Tavrin::CContainerWriterBinary::Write")                                                     \
    X(BinaryObjectElementKind, Exception, kWriterBinary, 522,                                      \
      "Tavrin::CContainerWriterBinary::Write")                                                     \
    X(BinaryContainerElementKind, Exception, kWriterBinary, 539,                                   \
      "Tavrin::CContainerWriterBinary::Write")                                                     \
    X(BinaryValueTooLarge, Exception, kWriterBinary, 640, "Tavrin::CDataWriterBinary::Write")      \
    X(BinaryBlobWithoutBytes, Exception, kWriterBinary, 645, "Tavrin::CDataWriterBinary::Write")   \
    X(BinaryElementTooLarge, Exception, kWriterBinary, 650,                                        \
      "Tavrin::CContainerWriterBinary::Write")                                                     \
    X(BinaryTextElementTooLarge, Exception, kWriterBinary, 650,                                    \
      "Tavrin::CContainerWriterBinary::write")                                                     \
    X(BinaryElementBlobWithoutBytes, Exception, kWriterBinary, 655,                                \
      "Tavrin::CContainerWriterBinary::Write")                                                     \
    X(BinaryTooManyElements, Exception, kWriterBinary, 660,                                        \
      "Tavrin::CContainerWriterBinary::Write")                                                     \
    X(BinaryTooManyTextElements, Exception, kWriterBinary, 660,                                    \
      "Tavrin::CContainerWriterBinary::write")                                                     \
    /* Binary reader. */                                                                           \
    X(BinaryRootKind, Exception, kReaderBinary, 305, "Tavrin::CReaderBinary::CReaderBinary")       \
    X(BinaryReadObject, Exception, kReaderBinary, 331, "Tavrin::CReaderBinary::Read")              \
    X(BinaryReadContainer, Exception, kReaderBinary, 346, "Tavrin::CReaderBinary::Read")           \
    X(BinaryObjectTooDeep, Exception, kReaderBinary, 380, "Tavrin::CDataReader::Read")             \
    X(BinarySectionTag, Exception, kReaderBinary, 388, "Tavrin::CDataReader::Read")                \
    X(BinaryUnknownName, Exception, kReaderBinary, 392, "Tavrin::CDataReader::Read")               \
    X(BinaryShortBlob, Exception, kReaderBinary, 476, "Tavrin::CDataReader::readBlobs")            \
    X(BinaryContainerTooDeep, Exception, kReaderBinary, 614, "Tavrin::CContainerReader::Read")     \
    X(BinaryElementTag, Exception, kReaderBinary, 622, "Tavrin::CContainerReader::Read")           \
    X(BinaryUnknownClassName, Exception, kReaderBinary, 626, "Tavrin::CContainerReader::Read")     \
    /* JSON writer and parser. */                                                                  \
    X(JsonWriteObject, Exception, kWriterJson, 372, "Tavrin::CWriterJson::Write")                  \
    X(JsonWriteContainer, Exception, kWriterJson, 402, "Tavrin::CWriterJson::Write")               \
    X(JsonElementKind, Exception, kReaderJson, 69, "Tavrin::SJsonElement::SJsonElement")           \
    X(JsonEndOfText, Exception, kReaderJson, 500, "SkipEmptyChars")                                \
    X(JsonStringNotClosed, Exception, kReaderJson, 562, "Tavrin::ParseString")                     \
    X(JsonValueNotEnded, Exception, kReaderJson, 586, "ParseValue")                                \
    X(JsonNestingTooDeep, Exception, kReaderJson, 610, "ParseElement")                             \
    X(JsonObjectStart, Exception, kReaderJson, 681, "Tavrin::ParseObject")                         \
    X(JsonMemberName, Exception, kReaderJson, 689, "Tavrin::ParseObject")                          \
    X(JsonMemberColon, Exception, kReaderJson, 695, "Tavrin::ParseObject")                         \
    X(JsonArrayStart, Exception, kReaderJson, 745, "Tavrin::ParseArray")                           \
    X(JsonArrayLeadingComma, Exception, kReaderJson, 747, "Tavrin::ParseArray")                    \
    X(JsonArrayTrailingComma, Exception, kReaderJson, 765, "Tavrin::ParseArray")                   \
    /* XML writer and reader. */                                                                   \
    X(XmlWriteObject, Exception, kWriterXml, 220, "Tavrin::CWriterXml::Write")                     \
    X(XmlWriteContainer, Exception, kWriterXml, 256, "Tavrin::CWriterXml::Write")                  \
    X(XmlElementNotElt, Exception, kReaderXml, 393, "Tavrin::CContainerReaderXml::readValue")      \
    /* Code pages and Base64. */                                                                   \
    X(CodePageTo, Exception, "core/tavrin/src/encodings.cpp", 77, "Tavrin::Encodings::ToCodePage") \
    X(CodePageFrom, Exception, "core/tavrin/src/encodings.cpp", 97,                                \
      "Tavrin::Encodings::FromCodePage")                                                           \
    X(Base64Encode, Exception, "core/tavrin/src/base64.cpp", 86, "Tavrin::Base64::Encode")         \
    X(Base64Decode, Exception, "core/tavrin/src/base64.cpp", 127, "Tavrin::Base64::Decode")        \
    /* Text file. */                                                                               \
    X(TextFileOpen, Exception, kTextFile, 82, "Tavrin::CTextFile::Read")                           \
    X(TextFileReadBytes, Exception, kTextFile, 101, "Tavrin::CTextFile::Read")                     \
    X(TextFileResourceNotFound, Exception, kTextFile, 140, "Tavrin::CTextFile::Read")              \
    X(TextFileResourceLoad, Exception, kTextFile, 142, "Tavrin::CTextFile::Read")                  \
    X(TextFileResourceLock, Exception, kTextFile, 147, "Tavrin::CTextFile::Read")                  \
    X(TextFileCreate, Exception, kTextFile, 199, "Tavrin::CTextFile::Write")                       \
    X(TextFileWriteBytes, Exception, kTextFile, 211, "Tavrin::CTextFile::Write")                   \
    X(TextFileComInitialize, Exception, kTextFile, 413, "Tavrin::CTextFile::GuessCodePage")

namespace Tavrin::Detail {

// The exception class of a raising place.
enum class EException : uint8_t { Exception, Conversion, Container, Version };

#define TAVRIN_RAISE_ID(id, type, file, line, function) id,
enum class ERaise : uint16_t { TAVRIN_RAISING_PLACES(TAVRIN_RAISE_ID) Count };
#undef TAVRIN_RAISE_ID

struct SRaisingPlace {
    EException type;
    const char* file;
    unsigned int line;
    const char* function;  // nullptr: named by the raising call
};

namespace RaiseFiles {
inline constexpr const char* kVariant = "core/basepool/qvvariant.cpp";
inline constexpr const char* kStreamRead = "core/basepool/qvstreamread.cpp";
inline constexpr const char* kStreamFile = "core/basepool/qvstreamfile.cpp";
inline constexpr const char* kWriterBinary = "core/tavrin/src/cwriterbinary.cpp";
inline constexpr const char* kReaderBinary = "core/tavrin/src/creaderbinary.cpp";
inline constexpr const char* kWriterJson = "core/tavrin/src/cwriterjson.cpp";
inline constexpr const char* kReaderJson = "core/tavrin/src/creaderjson.cpp";
inline constexpr const char* kWriterXml = "core/tavrin/src/cwriterxml.cpp";
inline constexpr const char* kReaderXml = "core/tavrin/src/creaderxml.cpp";
inline constexpr const char* kTextFile = "core/tavrin/src/ctextfile.cpp";
}  // namespace RaiseFiles

using namespace RaiseFiles;

#define TAVRIN_RAISE_ENTRY(id, type, file, line, function) \
    SRaisingPlace{EException::type, file, line, function},
inline constexpr SRaisingPlace kRaisingPlaces[] = {TAVRIN_RAISING_PLACES(TAVRIN_RAISE_ENTRY)};
#undef TAVRIN_RAISE_ENTRY
static_assert(std::size(kRaisingPlaces) == static_cast<size_t>(ERaise::Count));

// Throws the exception of `id` as the table describes it (it logs one entry).
[[noreturn]] void Raise(ERaise id);
// The same for a place whose function is the failing operation itself (its table entry has no
// function text).
[[noreturn]] void Raise(ERaise id, const char* function);

}  // namespace Tavrin::Detail
