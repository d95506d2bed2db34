// pugixml: a DOM built and saved through an xml_writer that appends to a std::string;
// load_buffer and child(name) per value, converted by pugixml's own as_* (which do not report
// malformed numbers: a missing element is refused here, a wrong value shows in the check).
//
// XML shape: the element names and the TAB indentation of this library's XML; the payload is
// Base64 element text (this library writes it as a CDATA section on lines of its own) and the
// root element has no namespace declarations. pugixml writes doubles with 17 significant digits
// and floats with 9, as this library does.
//
// pugixml allocates through its own hook, by default malloc; RegisterPugixml routes it to
// operator new so that its heap is counted like the others'.
#include <new>

#include <pugixml.hpp>

#include "common.h"

namespace PeersBench {
namespace {

using Peer::kXmlLine;
using Peer::kXmlOrder;
using Peer::kXmlRoot;
using Peer::kXmlTag;

class CStringWriter : public pugi::xml_writer {
public:
    explicit CStringWriter(std::string& out) : m_out(out) {}
    void write(const void* data, size_t size) override {
        m_out.append(static_cast<const char*>(data), size);
    }

private:
    std::string& m_out;
};

pugi::xml_text Add(pugi::xml_node parent, const char* name) {
    return parent.append_child(name).text();
}

void AddString(pugi::xml_node parent, const char* name, std::string_view text) {
    Add(parent, name).set(text.data(), text.size());
}

void WriteOrder(pugi::xml_node e, const Peer::Order& o) {
    Add(e, "id").set(o.id);
    AddString(e, "customer", o.customer);
    AddString(e, "note", o.note);
    Add(e, "amount").set(o.amount);
    Add(e, "quantity").set(static_cast<unsigned>(o.quantity));
    Add(e, "flags").set(static_cast<unsigned>(o.flags));
    Add(e, "active").set(o.active);
    Add(e, "created").set(static_cast<unsigned long long>(o.created));
    AddString(e, "payload", SPayloadText(o.payload).View());
    pugi::xml_node shipTo = e.append_child("shipTo");
    AddString(shipTo, "street", o.shipTo.street);
    AddString(shipTo, "city", o.shipTo.city);
    Add(shipTo, "zip").set(o.shipTo.zip);
    pugi::xml_node lines = e.append_child("lines");
    for (const Peer::Line& line : o.lines) {
        pugi::xml_node l = lines.append_child(kXmlLine);
        AddString(l, "sku", line.sku);
        Add(l, "price").set(line.price);
        Add(l, "count").set(line.count);
    }
    pugi::xml_node tags = e.append_child("tags");
    for (const std::string& tag : o.tags) AddString(tags, kXmlTag, tag);
}

void WriteOrders(std::string& out, const Peer::Orders& orders) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child(kXmlRoot);
    for (const Peer::Order& o : orders) WriteOrder(root.append_child(kXmlOrder), o);
    CStringWriter writer(out);
    doc.save(writer, "\t", pugi::format_default, pugi::encoding_utf8);
}

pugi::xml_node Child(pugi::xml_node parent, const char* name) {
    pugi::xml_node child = parent.child(name);
    if (!child) throw Peer::CBadDocument(std::string("no element ") + name);
    return child;
}

pugi::xml_text Text(pugi::xml_node parent, const char* name) { return Child(parent, name).text(); }

void ReadOrder(pugi::xml_node e, Peer::Order& o) {
    o.id = Text(e, "id").as_int();
    o.customer = Text(e, "customer").get();
    o.note = Text(e, "note").get();
    o.amount = Text(e, "amount").as_double();
    o.quantity = Peer::Narrow<unsigned short>(Text(e, "quantity").as_uint(), "quantity");
    o.flags = Peer::Narrow<unsigned char>(Text(e, "flags").as_uint(), "flags");
    o.active = Text(e, "active").as_bool();
    o.created = Text(e, "created").as_ullong();
    DecodePayload(Text(e, "payload").get(), o.payload);
    pugi::xml_node shipTo = Child(e, "shipTo");
    o.shipTo.street = Text(shipTo, "street").get();
    o.shipTo.city = Text(shipTo, "city").get();
    o.shipTo.zip = Text(shipTo, "zip").as_int();
    o.lines.clear();
    for (pugi::xml_node l = Child(e, "lines").child(kXmlLine); l; l = l.next_sibling(kXmlLine)) {
        Peer::Line& line = o.lines.emplace_back();
        line.sku = Text(l, "sku").get();
        line.price = Text(l, "price").as_float();
        line.count = Text(l, "count").as_int();
    }
    o.tags.clear();
    for (pugi::xml_node t = Child(e, "tags").child(kXmlTag); t; t = t.next_sibling(kXmlTag))
        o.tags.emplace_back(t.text().get());
}

struct SPugixml {
    using Document = std::string;
    static constexpr bool kHeapCounted = true;
    static size_t WriteOnce(const SWorkload& w) {
        std::string out;
        WriteOrders(out, w.peer);
        benchmark::DoNotOptimize(out.data());
        return out.size();
    }
    static Document Write(const SWorkload& w) {
        std::string out;
        WriteOrders(out, w.peer);
        return out;
    }
    static Peer::Orders Read(const Document& doc) {
        pugi::xml_document d;
        const pugi::xml_parse_result result = d.load_buffer(doc.data(), doc.size());
        if (!result) throw Peer::CBadDocument(result.description());
        Peer::Orders read;
        pugi::xml_node root = Child(d, kXmlRoot);
        for (pugi::xml_node e = root.child(kXmlOrder); e; e = e.next_sibling(kXmlOrder))
            ReadOrder(e, read.emplace_back());
        return read;
    }
};

void* Allocate(size_t size) { return ::operator new(size, std::nothrow); }
void Deallocate(void* block) { ::operator delete(block); }

}  // namespace

void RegisterPugixml(EFormat format, unsigned count) {
    if (format != EFormat::Xml) return;
    pugi::set_memory_management_functions(Allocate, Deallocate);
    RegisterWriteRead<SPugixml>(format, "pugixml", count);
}

}  // namespace PeersBench
