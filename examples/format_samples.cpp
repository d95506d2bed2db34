// Prints the sample documents of docs/FORMATS.md: small binary documents as hexadecimal bytes,
// and one object with a value of every kind, and one container, as JSON and as XML.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <tavrin/tavrin.h>

namespace {

// Two values: a 32-bit integer and a wide text.
struct Point : Tavrin::ISerializable {
    int x = 0;
    std::wstring label;
    const char* GetClassName() const override { return "Geo::Point"; }
    void Write(Tavrin::IDataWriter& w) const override {
        w.Write("x", x);
        w.Write("label", label);
    }
    void Read(Tavrin::IDataReader& r) override {
        r.Read("x", x);
        r.Read("label", label);
    }
};

// A container of points.
struct Path : Tavrin::ISerializableContainer {
    std::vector<Point> points;
    const char* GetClassName() const override { return "Geo::Path"; }
    void Write(Tavrin::IContainerWriter& w) const override {
        for (const Point& p : points) w.Write(p);
    }
    void Read(Tavrin::IContainerReader&) override {}
};

// A container of 16-bit integers.
struct Numbers : Tavrin::ISerializableContainer {
    std::vector<short> values;
    const char* GetClassName() const override { return "Numbers"; }
    void Write(Tavrin::IContainerWriter& w) const override {
        for (short v : values) w.Write(v);
    }
    void Read(Tavrin::IContainerReader&) override {}
};

// One value of every kind.
struct Sample : Tavrin::ISerializable {
    const char* GetClassName() const override { return "Demo::Sample"; }
    void Write(Tavrin::IDataWriter& w) const override {
        w.Write("flag", true);
        w.Write("letter", 'Q');
        w.Write("tiny", static_cast<signed char>(-5));
        w.Write("byte", static_cast<unsigned char>(200));
        w.Write("small", static_cast<short>(-300));
        w.Write("word", static_cast<unsigned short>(60000));
        w.Write("count", 42);
        w.Write("size", 4000000000u);
        w.Write("big", -9000000000LL);
        w.Write("huge", 18000000000000000000ULL);
        w.Write("ratio", 0.1f);
        w.Write("pi", 3.141592653589793);
        w.Write("text", std::string("a \"quoted\" <tag> & more"));
        w.Write("wide", std::wstring(L"Grüße"));
        w.Write("when", QvDateTime("2026-03-14 09:26:53"));
        const unsigned char bytes[] = {0x00, 0x01, 0xFE, 0xFF};
        w.Write("bytes", sizeof bytes, bytes);
        Point at;
        at.x = 3;
        at.label = L"Hi";
        w.Write("at", at);
        Numbers list;
        list.values = {1, 2, 3};
        w.Write("list", list);
    }
    void Read(Tavrin::IDataReader&) override {}
};

void PrintHex(const QvStreamWriteBinaryBuffer& buffer) {
    const unsigned char* p = buffer.GetData();
    for (unsigned int i = 0; i < buffer.GetCount(); i += 16) {
        std::printf("%04x ", i);
        for (unsigned int j = i; j < i + 16 && j < buffer.GetCount(); ++j)
            std::printf(" %02x", p[j]);
        std::printf("\n");
    }
}

template <class T>
void PrintBinary(const char* title, const T& root) {
    QvStreamWriteBinaryBuffer buffer;
    Tavrin::CWriterBinary(buffer).Write(root);
    std::printf("== %s: binary, %u bytes\n", title, buffer.GetCount());
    PrintHex(buffer);
}

template <class T>
void PrintText(const char* title, const T& root) {
    std::ostringstream json;
    Tavrin::CWriterJson(json).Write(root);
    std::printf("== %s: JSON\n%s", title, json.str().c_str());
    std::ostringstream xml;
    Tavrin::CWriterXml(xml).Write(root);
    std::printf("== %s: XML\n%s", title, xml.str().c_str());
}

}  // namespace

int main() {
    Point point;
    point.x = 3;
    point.label = L"Hi";
    PrintBinary("Geo::Point {x = 3, label = L\"Hi\"}", point);

    Path path;
    path.points.resize(2);
    path.points[0].x = 1;
    path.points[1].x = 2;
    path.points[1].label = L"B";
    PrintBinary("Geo::Path [{x = 1, label = L\"\"}, {x = 2, label = L\"B\"}]", path);

    PrintBinary("Demo::Sample", Sample());
    PrintText("Demo::Sample", Sample());
    PrintText("Geo::Path", path);
    return 0;
}
