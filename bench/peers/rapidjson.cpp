// RapidJSON: a writer into a StringBuffer, and Document::Parse with FindMember per value, every
// value's type checked (RapidJSON's getters only assert it) before it is converted.
//
// JSON shape: PrettyWriter, RapidJSON's Writer with indentation, set to one TAB per level like
// this library's JSON; it puts each opening bracket at the end of its line and a space after
// every colon. RapidJSON writes no float, so a price is written as a double (up to 17 digits).
// Parsing uses kParseFullPrecisionFlag: without it RapidJSON may read a 17-digit amount one unit
// in the last place off, and the check fails.
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "common.h"

namespace PeersBench {
namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

template <size_t N>
void Key(Writer& w, const char (&name)[N]) {
    w.Key(name, N - 1);
}

void String(Writer& w, std::string_view text) {
    w.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void WriteOrder(Writer& w, const Peer::Order& o) {
    w.StartObject();
    Key(w, "id");
    w.Int(o.id);
    Key(w, "customer");
    String(w, o.customer);
    Key(w, "note");
    String(w, o.note);
    Key(w, "amount");
    w.Double(o.amount);
    Key(w, "quantity");
    w.Uint(o.quantity);
    Key(w, "flags");
    w.Uint(o.flags);
    Key(w, "active");
    w.Bool(o.active);
    Key(w, "created");
    w.Uint64(o.created);
    Key(w, "payload");
    String(w, SPayloadText(o.payload).View());
    Key(w, "shipTo");
    w.StartObject();
    Key(w, "street");
    String(w, o.shipTo.street);
    Key(w, "city");
    String(w, o.shipTo.city);
    Key(w, "zip");
    w.Int(o.shipTo.zip);
    w.EndObject();
    Key(w, "lines");
    w.StartArray();
    for (const Peer::Line& line : o.lines) {
        w.StartObject();
        Key(w, "sku");
        String(w, line.sku);
        Key(w, "price");
        w.Double(line.price);
        Key(w, "count");
        w.Int(line.count);
        w.EndObject();
    }
    w.EndArray();
    Key(w, "tags");
    w.StartArray();
    for (const std::string& tag : o.tags) String(w, tag);
    w.EndArray();
    w.EndObject();
}

void WriteOrders(rapidjson::StringBuffer& buffer, const Peer::Orders& orders) {
    Writer w(buffer);
    w.SetIndent('\t', 1);
    w.StartArray();
    for (const Peer::Order& o : orders) WriteOrder(w, o);
    w.EndArray();
}

using Value = rapidjson::Value;

const Value& Member(const Value& object, const char* name) {
    if (!object.IsObject()) throw Peer::CBadDocument(std::string(name) + ": not in an object");
    const auto it = object.FindMember(name);
    if (it == object.MemberEnd()) throw Peer::CBadDocument(std::string("no member ") + name);
    return it->value;
}

[[noreturn]] void WrongType(const char* name) {
    throw Peer::CBadDocument(std::string(name) + ": wrong type");
}

int Int(const Value& object, const char* name) {
    const Value& v = Member(object, name);
    if (!v.IsInt()) WrongType(name);
    return v.GetInt();
}

template <class T>
T Unsigned(const Value& object, const char* name) {
    const Value& v = Member(object, name);
    if (!v.IsUint64()) WrongType(name);
    return Peer::Narrow<T>(v.GetUint64(), name);
}

double Double(const Value& object, const char* name) {
    const Value& v = Member(object, name);
    if (!v.IsNumber()) WrongType(name);
    return v.GetDouble();
}

void String(const Value& object, const char* name, std::string& out) {
    const Value& v = Member(object, name);
    if (!v.IsString()) WrongType(name);
    out.assign(v.GetString(), v.GetStringLength());
}

const Value& Array(const Value& object, const char* name) {
    const Value& v = Member(object, name);
    if (!v.IsArray()) WrongType(name);
    return v;
}

void ReadOrder(const Value& v, Peer::Order& o) {
    o.id = Int(v, "id");
    String(v, "customer", o.customer);
    String(v, "note", o.note);
    o.amount = Double(v, "amount");
    o.quantity = Unsigned<unsigned short>(v, "quantity");
    o.flags = Unsigned<unsigned char>(v, "flags");
    const Value& active = Member(v, "active");
    if (!active.IsBool()) WrongType("active");
    o.active = active.GetBool();
    o.created = Unsigned<uint64_t>(v, "created");
    const Value& payload = Member(v, "payload");
    if (!payload.IsString()) WrongType("payload");
    DecodePayload({payload.GetString(), payload.GetStringLength()}, o.payload);
    const Value& shipTo = Member(v, "shipTo");
    String(shipTo, "street", o.shipTo.street);
    String(shipTo, "city", o.shipTo.city);
    o.shipTo.zip = Int(shipTo, "zip");
    const Value& lines = Array(v, "lines");
    o.lines.resize(lines.Size());
    for (rapidjson::SizeType i = 0; i < lines.Size(); ++i) {
        String(lines[i], "sku", o.lines[i].sku);
        o.lines[i].price = static_cast<float>(Double(lines[i], "price"));
        o.lines[i].count = Int(lines[i], "count");
    }
    const Value& tags = Array(v, "tags");
    o.tags.resize(tags.Size());
    for (rapidjson::SizeType i = 0; i < tags.Size(); ++i) {
        if (!tags[i].IsString()) WrongType("tags");
        o.tags[i].assign(tags[i].GetString(), tags[i].GetStringLength());
    }
}

struct SRapidJson {
    using Document = std::string;
    // StringBuffer and Document allocate through RapidJSON's CrtAllocator (malloc).
    static constexpr bool kHeapCounted = false;
    static size_t WriteOnce(const SWorkload& w) {
        rapidjson::StringBuffer buffer;
        WriteOrders(buffer, w.peer);
        benchmark::DoNotOptimize(buffer.GetString());
        return buffer.GetSize();
    }
    static Document Write(const SWorkload& w) { return WriteRapidJson(w.peer); }
    static Peer::Orders Read(const Document& doc) {
        rapidjson::Document d;
        d.Parse<rapidjson::kParseFullPrecisionFlag>(doc.data(), doc.size());
        if (d.HasParseError() || !d.IsArray()) throw Peer::CBadDocument("not a JSON array");
        Peer::Orders read(d.Size());
        for (rapidjson::SizeType i = 0; i < d.Size(); ++i) ReadOrder(d[i], read[i]);
        return read;
    }
};

}  // namespace

std::string WriteRapidJson(const Peer::Orders& orders) {
    rapidjson::StringBuffer buffer;
    WriteOrders(buffer, orders);
    return std::string(buffer.GetString(), buffer.GetSize());
}

void RegisterRapidJson(EFormat format, unsigned count) {
    if (format == EFormat::Json) RegisterWriteRead<SRapidJson>(format, "rapidjson", count);
}

}  // namespace PeersBench
