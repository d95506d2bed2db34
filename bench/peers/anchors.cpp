// The limit anchors, shown beside the peers and never counted among them: how fast a reader (and
// for XML a writer) can be.
//
// simdjson On-Demand reads RapidJSON's document of the orders: a padded copy of the text and a
// parser are made inside the timed read, values are found with find_field (in document order)
// and read through the typed getters, which check the type.
//
// RapidXML writes a DOM (element names and TAB indentation as pugixml's, numbers as the shortest
// text that reads back exactly, strings pointing at the orders without a copy) and prints it
// into a std::string. It reads by parsing a copy of its document in place, the copy made inside
// the timed read, and finds each value with first_node(name); numbers are read with
// std::from_chars, which checks them.
#include <charconv>
#include <iterator>

// GCC reports the last child and attribute of an empty node as maybe uninitialized when it
// inlines RapidXML's append functions; they are read only when a first one exists.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <rapidxml/rapidxml.hpp>
#include <rapidxml/rapidxml_print.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <simdjson.h>

#include "common.h"

namespace PeersBench {
namespace {

// ---------------------------------------------------------------------------------------------
// simdjson

namespace od = simdjson::ondemand;

template <class T>
T Signed(od::object& object, const char* name) {
    return Peer::Narrow<T>(object.find_field(name).get_int64().value(), name);
}

template <class T>
T Unsigned(od::object& object, const char* name) {
    return Peer::Narrow<T>(object.find_field(name).get_uint64().value(), name);
}

void String(od::object& object, const char* name, std::string& out) {
    out = object.find_field(name).get_string().value();
}

void ReadOrder(od::object object, Peer::Order& o) {
    o.id = Signed<int>(object, "id");
    String(object, "customer", o.customer);
    String(object, "note", o.note);
    o.amount = object.find_field("amount").get_double().value();
    o.quantity = Unsigned<unsigned short>(object, "quantity");
    o.flags = Unsigned<unsigned char>(object, "flags");
    o.active = object.find_field("active").get_bool().value();
    o.created = Unsigned<uint64_t>(object, "created");
    DecodePayload(object.find_field("payload").get_string().value(), o.payload);
    od::object shipTo = object.find_field("shipTo").get_object().value();
    String(shipTo, "street", o.shipTo.street);
    String(shipTo, "city", o.shipTo.city);
    o.shipTo.zip = Signed<int>(shipTo, "zip");
    o.lines.clear();
    for (auto element : object.find_field("lines").get_array()) {
        od::object l = element.get_object().value();
        Peer::Line& line = o.lines.emplace_back();
        String(l, "sku", line.sku);
        line.price = static_cast<float>(l.find_field("price").get_double().value());
        line.count = Signed<int>(l, "count");
    }
    o.tags.clear();
    for (auto element : object.find_field("tags").get_array())
        o.tags.emplace_back(element.get_string().value());
}

struct SSimdjson {
    using Document = std::string;
    static constexpr bool kHeapCounted = true;
    static Document Write(const SWorkload& w) { return WriteRapidJson(w.peer); }
    static Peer::Orders Read(const Document& doc) {
        const simdjson::padded_string text(doc);
        od::parser parser;
        od::document d = parser.iterate(text).value();
        Peer::Orders read;
        for (auto element : d.get_array())
            ReadOrder(element.get_object().value(), read.emplace_back());
        return read;
    }
};

// ---------------------------------------------------------------------------------------------
// RapidXML

using XmlDocument = rapidxml::xml_document<char>;
using XmlNode = rapidxml::xml_node<char>;

using Peer::kXmlLine;
using Peer::kXmlOrder;
using Peer::kXmlRoot;
using Peer::kXmlTag;

XmlNode* AddElement(XmlDocument& doc, XmlNode* parent, const char* name,
                    std::string_view value = {}) {
    XmlNode* node = doc.allocate_node(rapidxml::node_element, name, value.data(), 0, value.size());
    parent->append_node(node);
    return node;
}

// A number element; its text is allocated in the document's pool.
template <class T>
void AddNumber(XmlDocument& doc, XmlNode* parent, const char* name, T value) {
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof(text), value);
    const size_t size = static_cast<size_t>(r.ptr - text);
    AddElement(doc, parent, name, {doc.allocate_string(text, size), size});
}

void WriteOrder(XmlDocument& doc, XmlNode* e, const Peer::Order& o) {
    AddNumber(doc, e, "id", o.id);
    AddElement(doc, e, "customer", o.customer);
    AddElement(doc, e, "note", o.note);
    AddNumber(doc, e, "amount", o.amount);
    AddNumber(doc, e, "quantity", o.quantity);
    AddNumber(doc, e, "flags", static_cast<unsigned>(o.flags));
    AddElement(doc, e, "active", o.active ? "true" : "false");
    AddNumber(doc, e, "created", o.created);
    const SPayloadText payload(o.payload);
    AddElement(doc, e, "payload",
               {doc.allocate_string(payload.text.data(), payload.kSize), payload.kSize});
    XmlNode* shipTo = AddElement(doc, e, "shipTo");
    AddElement(doc, shipTo, "street", o.shipTo.street);
    AddElement(doc, shipTo, "city", o.shipTo.city);
    AddNumber(doc, shipTo, "zip", o.shipTo.zip);
    XmlNode* lines = AddElement(doc, e, "lines");
    for (const Peer::Line& line : o.lines) {
        XmlNode* l = AddElement(doc, lines, kXmlLine);
        AddElement(doc, l, "sku", line.sku);
        AddNumber(doc, l, "price", line.price);
        AddNumber(doc, l, "count", line.count);
    }
    XmlNode* tags = AddElement(doc, e, "tags");
    for (const std::string& tag : o.tags) AddElement(doc, tags, kXmlTag, tag);
}

void WriteOrders(std::string& out, const Peer::Orders& orders) {
    XmlDocument doc;
    XmlNode* declaration = doc.allocate_node(rapidxml::node_declaration);
    declaration->append_attribute(doc.allocate_attribute("version", "1.0"));
    doc.append_node(declaration);
    XmlNode* root = AddElement(doc, &doc, kXmlRoot);
    for (const Peer::Order& o : orders) WriteOrder(doc, AddElement(doc, root, kXmlOrder), o);
    rapidxml::print(std::back_inserter(out), doc);
}

XmlNode* Child(XmlNode* parent, const char* name) {
    XmlNode* child = parent->first_node(name);
    if (child == nullptr) throw Peer::CBadDocument(std::string("no element ") + name);
    return child;
}

std::string_view Text(XmlNode* parent, const char* name) {
    XmlNode* child = Child(parent, name);
    return {child->value(), child->value_size()};
}

template <class T>
T Number(XmlNode* parent, const char* name) {
    const std::string_view text = Text(parent, name);
    T value{};
    const std::from_chars_result r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size())
        throw Peer::CBadDocument(std::string(name) + ": not a number");
    return value;
}

void ReadOrder(XmlNode* e, Peer::Order& o) {
    o.id = Number<int>(e, "id");
    o.customer = Text(e, "customer");
    o.note = Text(e, "note");
    o.amount = Number<double>(e, "amount");
    o.quantity = Number<unsigned short>(e, "quantity");
    o.flags = Number<unsigned char>(e, "flags");
    const std::string_view active = Text(e, "active");
    if (active != "true" && active != "false") throw Peer::CBadDocument("active: not a bool");
    o.active = active == "true";
    o.created = Number<uint64_t>(e, "created");
    DecodePayload(Text(e, "payload"), o.payload);
    XmlNode* shipTo = Child(e, "shipTo");
    o.shipTo.street = Text(shipTo, "street");
    o.shipTo.city = Text(shipTo, "city");
    o.shipTo.zip = Number<int>(shipTo, "zip");
    o.lines.clear();
    for (XmlNode* l = Child(e, "lines")->first_node(kXmlLine); l; l = l->next_sibling(kXmlLine)) {
        Peer::Line& line = o.lines.emplace_back();
        line.sku = Text(l, "sku");
        line.price = Number<float>(l, "price");
        line.count = Number<int>(l, "count");
    }
    o.tags.clear();
    for (XmlNode* t = Child(e, "tags")->first_node(kXmlTag); t; t = t->next_sibling(kXmlTag))
        o.tags.emplace_back(t->value(), t->value_size());
}

struct SRapidXml {
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
        std::vector<char> text(doc.c_str(), doc.c_str() + doc.size() + 1);  // with the NUL
        XmlDocument d;
        // Element values are all it needs: no data nodes of their own.
        d.parse<rapidxml::parse_no_data_nodes>(text.data());
        Peer::Orders read;
        XmlNode* root = Child(&d, kXmlRoot);
        for (XmlNode* e = root->first_node(kXmlOrder); e; e = e->next_sibling(kXmlOrder))
            ReadOrder(e, read.emplace_back());
        return read;
    }
};

}  // namespace

void RegisterAnchors(EFormat format, unsigned count) {
    if (format == EFormat::Json) RegisterOne(format, "read", "simdjson", count, BM_Read<SSimdjson>);
    if (format == EFormat::Xml) RegisterWriteRead<SRapidXml>(format, "rapidxml", count);
}

}  // namespace PeersBench
