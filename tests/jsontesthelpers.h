// Test objects for the JSON tests: objects and containers whose Write and Read are lambdas.
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "core/tavrin/json/sjsonelement.h"

namespace JsonTest {

using namespace Tavrin;

struct Obj : ISerializable {
    std::function<void(IDataWriter&)> write;
    std::function<void(IDataReader&)> read;

    Obj() = default;
    explicit Obj(std::function<void(IDataWriter&)> w) : write(std::move(w)) {}
    const char* GetClassName() const override { return "Obj"; }
    void Write(IDataWriter& w) const override {
        if (write) write(w);
    }
    void Read(IDataReader& r) override {
        if (read) read(r);
    }
};

struct Cont : ISerializableContainer {
    std::function<void(IContainerWriter&)> write;
    std::function<void(IContainerReader&)> read;

    Cont() = default;
    explicit Cont(std::function<void(IContainerWriter&)> w) : write(std::move(w)) {}
    const char* GetClassName() const override { return "Cont"; }
    void Write(IContainerWriter& w) const override {
        if (write) write(w);
    }
    void Read(IContainerReader& r) override {
        if (read) read(r);
    }
};

// The document of an Obj or a Cont.
template <class T>
std::string WriteJson(const T& root) {
    std::ostringstream out;
    CWriterJson(out).Write(root);
    return out.str();
}

// Reads `text` as an object document, or as a container document, with `read`.
inline void ReadObject(const std::string& text, const std::function<void(IDataReader&)>& read) {
    Obj object;
    object.read = read;
    CReaderJson(text).Read(object);
}

inline void ReadContainer(const std::string& text,
                          const std::function<void(IContainerReader&)>& read) {
    Cont container;
    container.read = read;
    CReaderJson(text).Read(container);
}

// Runs `f`, expects an exception of type E with this line and function, raised in a file whose
// path ends with `file`.
template <class E, class F>
void ExpectThrowAt(F&& f, unsigned int line, std::string_view function, std::string_view file,
                   const std::string& context = {}) {
    SCOPED_TRACE(context);
    try {
        f();
        ADD_FAILURE() << "no exception, expected line " << line;
    } catch (const E& e) {
        EXPECT_EQ(e.GetCodeLine(), line);
        EXPECT_EQ(std::string_view(e.GetFunctionName()), function);
        EXPECT_TRUE(std::string_view(e.GetFilename()).ends_with(file)) << e.GetFilename();
    }
}

constexpr std::string_view kReaderFile = "core/tavrin/src/creaderjson.cpp";
constexpr std::string_view kWriterFile = "core/tavrin/src/cwriterjson.cpp";
constexpr std::string_view kVariantFile = "core/basepool/qvvariant.cpp";

}  // namespace JsonTest
