// The first program of docs/QUICKSTART.md: an order with nested values and a container of
// lines, written as JSON, XML and binary, read back into fresh objects, and the exceptions
// that bad input raises.
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <tavrin/tavrin.h>

// One line of an order: an object with named values.
struct Line : Tavrin::ISerializable {
    std::string sku;
    int quantity = 0;
    double price = 0;

    const char* GetClassName() const override { return "Shop::Line"; }
    void Write(Tavrin::IDataWriter& w) const override {
        w.Write("sku", sku);
        w.Write("quantity", quantity);
        w.Write("price", price);
    }
    void Read(Tavrin::IDataReader& r) override {
        r.Read("sku", sku);
        r.Read("quantity", quantity);
        r.Read("price", price);
    }
};

// The lines of an order: a container, elements in order, read by index until a read fails.
struct Lines : Tavrin::ISerializableContainer {
    std::vector<Line> items;

    const char* GetClassName() const override { return "Shop::Lines"; }
    void Write(Tavrin::IContainerWriter& w) const override {
        for (const Line& line : items) w.Write(line);
    }
    void Read(Tavrin::IContainerReader& r) override {
        items.clear();
        for (unsigned int i = 0;; ++i) {
            Line line;
            if (!r.Read(i, line)) break;
            items.push_back(std::move(line));
        }
    }
};

// The order: scalars, wide text, a date-time, a blob and the container as one named value.
struct Order : Tavrin::ISerializable {
    unsigned int number = 0;
    std::wstring customer;
    QvDateTime placed{"2026-01-01 00:00:00"};
    bool paid = false;
    std::vector<unsigned char> note;
    Lines lines;

    const char* GetClassName() const override { return "Shop::Order"; }
    void Write(Tavrin::IDataWriter& w) const override {
        w.Write("number", number);
        w.Write("customer", customer);
        w.Write("placed", placed);
        w.Write("paid", paid);
        w.Write("note", note.size(), note.data());
        w.Write("lines", lines);
    }
    void Read(Tavrin::IDataReader& r) override {
        r.Read("number", number);
        r.Read("customer", customer);
        r.Read("placed", placed);
        r.Read("paid", paid);
        // A blob comes back as a range of bytes owned by the reader: copy what you keep.
        const Tavrin::SBlobRange blob = r.Read("note");
        if (blob.begin) note.assign(blob.begin, blob.end);
        r.Read("lines", lines);
    }
};

static Line MakeLine(const char* sku, int quantity, double price) {
    Line line;
    line.sku = sku;
    line.quantity = quantity;
    line.price = price;
    return line;
}

static bool Same(const Order& a, const Order& b) {
    if (a.number != b.number || a.customer != b.customer || a.paid != b.paid || a.note != b.note ||
        a.placed.ToFileTime() != b.placed.ToFileTime() ||
        a.lines.items.size() != b.lines.items.size()) {
        return false;
    }
    for (size_t i = 0; i < a.lines.items.size(); ++i) {
        const Line& x = a.lines.items[i];
        const Line& y = b.lines.items[i];
        if (x.sku != y.sku || x.quantity != y.quantity || x.price != y.price) return false;
    }
    return true;
}

static void Report(const char* what, const IException& e) {
    std::printf("%s: %s:%u in %s\n", what, e.GetFilename(), e.GetCodeLine(), e.GetFunctionName());
}

int main() {
    // Exceptions write a log entry when they are raised; this program prints its own lines.
    Logging::SetSink({});

    Order order;
    order.number = 1042;
    order.customer = L"Zoë Ortiz";
    order.placed = QvDateTime("2026-03-14 09:26:53");
    order.paid = true;
    order.note = {'g', 'i', 'f', 't'};
    order.lines.items = {MakeLine("TEA-01", 2, 4.5), MakeLine("MUG-07", 1, 12.25)};

    // JSON: into any std::ostream; the reader takes the text (here a temporary it keeps).
    std::ostringstream json;
    Tavrin::CWriterJson(json).Write(order);
    std::printf("JSON document:\n%s", json.str().c_str());
    Order fromJson;
    Tavrin::CReaderJson(json.str()).Read(fromJson);
    std::printf("read back from JSON: %s\n\n", Same(order, fromJson) ? "equal" : "DIFFERENT");

    // XML: the same calls.
    std::ostringstream xml;
    Tavrin::CWriterXml(xml).Write(order);
    std::printf("XML document:\n%s", xml.str().c_str());
    Order fromXml;
    Tavrin::CReaderXml(xml.str()).Read(fromXml);
    std::printf("read back from XML: %s\n\n", Same(order, fromXml) ? "equal" : "DIFFERENT");

    // Binary: through a binary stream; the reader decodes the whole document at construction.
    QvStreamWriteBinaryBuffer buffer;
    Tavrin::CWriterBinary(buffer).Write(order);
    QvStreamReadBinaryBuffer in(buffer.GetData(), buffer.GetCount());
    Order fromBinary;
    Tavrin::CReaderBinary(in).Read(fromBinary);
    std::printf("binary document: %u bytes; read back: %s\n\n", buffer.GetCount(),
                Same(order, fromBinary) ? "equal" : "DIFFERENT");

    // Absent values keep what the object held; present ones of the wrong type throw.
    Order partial;
    partial.number = 7;
    Tavrin::CReaderJson(R"({"customer":"Ann"})").Read(partial);
    std::printf("absent number keeps 7: number=%u\n", partial.number);
    try {
        Tavrin::CReaderJson(R"({"number":"many"})").Read(partial);
    } catch (const QvExceptionConversion& e) {
        Report("conversion error", e);
    }
    try {
        Tavrin::CReaderJson(R"({"number":)").Read(partial);
    } catch (const Tavrin::CException& e) {
        Report("malformed JSON", e);
    }
    try {
        const std::string cut(reinterpret_cast<const char*>(buffer.GetData()), 20);
        QvStreamReadBinaryBuffer shortStream(cut.data(), cut.size());
        Tavrin::CReaderBinary reader(shortStream);
        reader.Read(partial);
    } catch (const IException& e) {
        Report("binary document cut short", e);
    }
    const bool allEqual = Same(order, fromJson) && Same(order, fromXml) && Same(order, fromBinary);
    return allEqual ? 0 : 1;
}
