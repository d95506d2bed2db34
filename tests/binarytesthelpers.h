// Shared by the binary tests (both files build into one program).
#pragma once
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <tavrin/tavrin.h>

namespace BinaryTest {

using Bytes = std::vector<unsigned char>;

// "00 0a ff" -> bytes
inline Bytes Hex(const char* text) {
    Bytes out;
    unsigned value = 0;
    for (int used = 0; std::sscanf(text, " %2x%n", &value, &used) == 1; text += used) {
        out.push_back(static_cast<unsigned char>(value));
    }
    return out;
}

// An object or container whose behaviour is given by functions.
template <class Base, class Writer, class ReaderT>
struct CFunctions : Base {
    using Reader = ReaderT;
    std::function<void(Writer&)> write;
    std::function<void(Reader&)> read;
    std::string className;

    explicit CFunctions(std::function<void(Writer&)> w = {}, std::string cls = "T")
        : write(std::move(w)), className(std::move(cls)) {}
    const char* GetClassName() const override { return className.c_str(); }
    void Write(Writer& w) const override { if (write) write(w); }
    void Read(Reader& r) override { if (read) read(r); }
};
using CObject = CFunctions<Tavrin::ISerializable, Tavrin::IDataWriter, Tavrin::IDataReader>;
using CContainer = CFunctions<Tavrin::ISerializableContainer, Tavrin::IContainerWriter,
                              Tavrin::IContainerReader>;

template <class Root>
Bytes Document(const Root& root) {
    QvStreamWriteBinaryBuffer buffer;
    Tavrin::CWriterBinary(buffer).Write(root);
    return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetCount());
}

// A document holding every kind, named and as elements, with texts beyond U+FFFF and unpaired
// surrogates; `large` adds wide texts in the longer length forms.
Bytes RichDocument(bool large);

// Everything a reader makes of `stream` as text, with the stream position at the end; or the
// raising place of the library exception it threw.
std::string ReadAll(QvStreamReadBinaryBuffer& stream);

}  // namespace BinaryTest
