// Reads everything a document holds without knowing its classes: every name of an object with
// every typed read, nested objects and containers, blobs, elements by index. A failure the
// library detects is an IException and is expected; anything else escapes to the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <tavrin/tavrin.h>

namespace Fuzz {

// Bounds the work per input: a document whose every name is tried with every kind, object and
// container alike, would otherwise branch at every level of nesting.
class CBudget {
public:
    explicit CBudget(unsigned int reads) : m_left(reads) {}
    bool Take() { return m_left > 0 && (--m_left, true); }

private:
    unsigned int m_left;
};

// Silences the exception log for the whole run: every rejected input logs one entry.
inline void QuietLog() {
    static const bool once = (Logging::SetSink([](const Logging::SLogEntry&) {}), true);
    (void)once;
}

template <class Reader, class Key>
void ReadEveryKind(Reader& reader, Key key, CBudget& budget, int depth);

class CProbeObject : public Tavrin::ISerializable {
public:
    CProbeObject(CBudget& budget, int depth, const char* className = "Fuzz::Probe")
        : m_budget(budget), m_depth(depth), m_className(className) {}
    const char* GetClassName() const override { return m_className; }
    void Write(Tavrin::IDataWriter&) const override {}
    void Read(Tavrin::IDataReader& reader) override {
        static constexpr const char* kAbsent = "\x01no such name";
        bool absent = true;  // the document may hold even this name
        const unsigned int count = reader.GetNameCount();
        for (unsigned int i = 0; i < count; ++i) {
            const char* name = reader.GetName(i);
            if (name == nullptr) std::abort();
            absent = absent && std::string_view(name) != kAbsent;
            if (m_budget.Take()) {
                const std::string copy(name);  // the name must stay readable as a C string
                ReadEveryKind(reader, copy.c_str(), m_budget, m_depth);
            }
        }
        // An absent name reads as absent, without failing.
        int unused = 0;
        if (absent && reader.Read(kAbsent, unused)) std::abort();
    }

private:
    CBudget& m_budget;
    int m_depth;
    const char* m_className;
};

class CProbeContainer : public Tavrin::ISerializableContainer {
public:
    CProbeContainer(CBudget& budget, int depth, const char* className = "Fuzz::ProbeList")
        : m_budget(budget), m_depth(depth), m_className(className) {}
    const char* GetClassName() const override { return m_className; }
    void Write(Tavrin::IContainerWriter&) const override {}
    void Read(Tavrin::IContainerReader& reader) override {
        for (unsigned int index = 0; m_budget.Take(); ++index) {
            // An element is there when some typed read takes it or rejects it.
            bool present = false;
            try {
                std::string text;
                present = reader.Read(index, text);
            } catch (const IException&) {
                present = true;
            }
            if (!present) {
                try {
                    Tavrin::SBlobRange blob = reader.Read(index);
                    present = blob.begin != nullptr;
                } catch (const IException&) {
                    present = true;
                }
            }
            if (!present) return;
            ReadEveryKind(reader, index, m_budget, m_depth);
        }
    }

private:
    CBudget& m_budget;
    int m_depth;
    const char* m_className;
};

template <class Reader, class Key, class T>
void TryRead(Reader& reader, Key key) {
    T value{};
    try {
        reader.Read(key, value);
    } catch (const IException&) {}
}

template <class Reader, class Key>
void ReadEveryKind(Reader& reader, Key key, CBudget& budget, int depth) {
    TryRead<Reader, Key, std::wstring>(reader, key);
    TryRead<Reader, Key, std::string>(reader, key);
    TryRead<Reader, Key, char>(reader, key);
    TryRead<Reader, Key, double>(reader, key);
    TryRead<Reader, Key, float>(reader, key);
    TryRead<Reader, Key, long long>(reader, key);
    TryRead<Reader, Key, unsigned long long>(reader, key);
    TryRead<Reader, Key, int>(reader, key);
    TryRead<Reader, Key, unsigned int>(reader, key);
    TryRead<Reader, Key, short>(reader, key);
    TryRead<Reader, Key, unsigned short>(reader, key);
    TryRead<Reader, Key, signed char>(reader, key);
    TryRead<Reader, Key, unsigned char>(reader, key);
    TryRead<Reader, Key, bool>(reader, key);
    TryRead<Reader, Key, QvDateTime>(reader, key);
    try {
        const Tavrin::SBlobRange blob = reader.Read(key);
        volatile unsigned char sink = 0;
        for (const unsigned char* p = blob.begin; p != blob.end; ++p) {
            sink = static_cast<unsigned char>(sink ^ *p);  // every byte of the range readable
        }
    } catch (const IException&) {}
    if (depth >= 64) return;
    try {
        CProbeObject child(budget, depth + 1);
        reader.Read(key, static_cast<Tavrin::ISerializable&>(child));
    } catch (const IException&) {}
    try {
        CProbeContainer child(budget, depth + 1);
        reader.Read(key, static_cast<Tavrin::ISerializableContainer&>(child));
    } catch (const IException&) {}
}

// Reads a whole document through `reader` as an object and as a container. An XML reader
// gives values only to a root whose class name matches the document element, so the caller
// passes the name found in the text.
template <class ReaderT>
void ProbeDocument(const ReaderT& reader, const char* className = "Fuzz::Probe") {
    CBudget budget(4000);
    try {
        CProbeObject root(budget, 0, className);
        reader.Read(root);
    } catch (const IException&) {}
    try {
        CProbeContainer root(budget, 0, className);
        reader.Read(root);
    } catch (const IException&) {}
}

}  // namespace Fuzz
