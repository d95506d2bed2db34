// The three formats behind one face: Write(root) gives the document, Read(document, root) reads
// it back; Cut tells what a prefix of a complete document gives.
#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "support/bytes.h"
#include "support/objects.h"

namespace TestSupport {

// What a prefix of a complete document gives when read.
enum class ECut { Raises, Reads, Either };

struct SBinaryFormat {
    using Document = Bytes;
    template <class Root>
    static Document Write(const Root& root) {
        QvStreamWriteBinaryBuffer buffer;
        Tavrin::CWriterBinary(buffer).Write(root);
        return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetCount());
    }
    template <class Root>
    static void Read(const Document& doc, Root& root) {
        QvStreamReadBinaryBuffer stream(doc.data(), doc.size());
        Tavrin::CReaderBinary(stream).Read(root);
    }
    // Every proper prefix lacks some of what the header and the sections announce.
    static ECut Cut(const Document&, size_t) { return ECut::Raises; }
};

// The text formats: the closing bracket or end tag completes the document; the line break after
// it is not needed.
template <class Writer, class ReaderT, ECut kBeforeEnd>
struct STextFormat {
    using Document = std::string;
    using Reader = ReaderT;
    template <class Root>
    static Document Write(const Root& root) {
        std::ostringstream out;
        Writer(out).Write(root);
        return out.str();
    }
    template <class Root>
    static void Read(const Document& doc, Root& root) {
        ReaderT(doc).Read(root);
    }
    static ECut Cut(const Document& doc, size_t length) {
        return length > doc.find_last_not_of('\n') ? ECut::Reads : kBeforeEnd;
    }
};
// A cut JSON text misses a bracket and fails to parse; an XML parse that fails gives a document
// without values, and cut values may or may not convert.
struct SJsonFormat : STextFormat<Tavrin::CWriterJson, Tavrin::CReaderJson, ECut::Raises> {};
struct SXmlFormat : STextFormat<Tavrin::CWriterXml, Tavrin::CReaderXml, ECut::Either> {};

// Reads `key` (a name or an index) as T, expecting the read to succeed.
template <class T, class Reader, class Key>
T ReadAs(Reader& r, Key key) {
    T value{};
    EXPECT_TRUE(r.Read(key, value)) << key;
    return value;
}

// A reader's number read of `text` (`read` fills a T) gives what the variant's conversion of the
// same text gives: the same bits, or the same conversion failure.
template <class T, class Read>
void ExpectConvertsLikeVariant(const std::string& text, QvVariant::ETextForm form,
                               const Read& read) {
    T expected{}, got{};
    bool expectedThrows = false, readThrows = false;
    try {
        QvVariant::ConvertText(text, form, expected);
    } catch (const QvExceptionConversion&) {
        expectedThrows = true;
    }
    try {
        read(got);
    } catch (const QvExceptionConversion&) {
        readThrows = true;
    }
    EXPECT_EQ(readThrows, expectedThrows) << text;
    if (!expectedThrows) {
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof(T)), 0) << text << " " << typeid(T).name();
    }
}

// Reads `doc` as an object document, or as a container document, with `read`.
template <class Format>
void ReadObjectWith(const typename Format::Document& doc,
                    const std::function<void(Tavrin::IDataReader&)>& read) {
    CObject object;
    object.read = read;
    Format::Read(doc, object);
}
template <class Format>
void ReadContainerWith(const typename Format::Document& doc,
                       const std::function<void(Tavrin::IContainerReader&)>& read) {
    CContainer container;
    container.read = read;
    Format::Read(doc, container);
}

}  // namespace TestSupport
