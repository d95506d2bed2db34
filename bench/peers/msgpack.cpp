// MessagePack through msgpack-c's C++ API: a packer into an sbuffer, each object a map with
// string keys (the payload as bin, the price as float32, integers in their shortest form); reading
// unpacks the whole document and looks each key up in its map, converting the value with
// msgpack-c's own conversions (which check type and range).
//
// Strings and bins of the unpacked objects point into the document instead of being copied
// into the zone (a reference function that says yes): the document outlives them during Read.
// Key lookup starts where the previous key was found, so keys in the written order cost one
// comparison, and any order still works.
//
// msgpack-c allocates with malloc, so its rows have no peak heap figure.
#include <msgpack.hpp>

#include "common.h"

namespace PeersBench {
namespace {

using Packer = msgpack::packer<msgpack::sbuffer>;

template <size_t N>
void Key(Packer& pk, const char (&name)[N]) {
    pk.pack_str(N - 1);
    pk.pack_str_body(name, N - 1);
}

void PackOrder(Packer& pk, const Peer::Order& o) {
    pk.pack_map(12);
    Key(pk, "id");
    pk.pack(o.id);
    Key(pk, "customer");
    pk.pack(o.customer);
    Key(pk, "note");
    pk.pack(o.note);
    Key(pk, "amount");
    pk.pack_double(o.amount);
    Key(pk, "quantity");
    pk.pack(o.quantity);
    Key(pk, "flags");
    pk.pack(o.flags);
    Key(pk, "active");
    pk.pack(o.active);
    Key(pk, "created");
    pk.pack(o.created);
    Key(pk, "payload");
    pk.pack_bin(static_cast<uint32_t>(o.payload.size()));
    pk.pack_bin_body(reinterpret_cast<const char*>(o.payload.data()),
                     static_cast<uint32_t>(o.payload.size()));
    Key(pk, "shipTo");
    pk.pack_map(3);
    Key(pk, "street");
    pk.pack(o.shipTo.street);
    Key(pk, "city");
    pk.pack(o.shipTo.city);
    Key(pk, "zip");
    pk.pack(o.shipTo.zip);
    Key(pk, "lines");
    pk.pack_array(static_cast<uint32_t>(o.lines.size()));
    for (const Peer::Line& line : o.lines) {
        pk.pack_map(3);
        Key(pk, "sku");
        pk.pack(line.sku);
        Key(pk, "price");
        pk.pack_float(line.price);
        Key(pk, "count");
        pk.pack(line.count);
    }
    Key(pk, "tags");
    pk.pack_array(static_cast<uint32_t>(o.tags.size()));
    for (const std::string& tag : o.tags) pk.pack(tag);
}

void Pack(msgpack::sbuffer& buffer, const Peer::Orders& orders) {
    Packer pk(buffer);
    pk.pack_array(static_cast<uint32_t>(orders.size()));
    for (const Peer::Order& o : orders) PackOrder(pk, o);
}

// The values of one map, by key.
class CMap {
public:
    explicit CMap(const msgpack::object& object) {
        if (object.type != msgpack::type::MAP) throw msgpack::type_error();
        m_map = object.via.map;
    }

    const msgpack::object& operator[](std::string_view key) {
        for (uint32_t tried = 0; tried < m_map.size; ++tried) {
            const msgpack::object_kv& kv = m_map.ptr[m_next];
            m_next = m_next + 1 == m_map.size ? 0 : m_next + 1;
            if (kv.key.type == msgpack::type::STR &&
                std::string_view(kv.key.via.str.ptr, kv.key.via.str.size) == key)
                return kv.val;
        }
        throw Peer::CBadDocument("no member " + std::string(key));
    }

    template <class T>
    void Get(std::string_view key, T& value) {
        (*this)[key].convert(value);
    }

private:
    msgpack::object_map m_map{};
    uint32_t m_next = 0;
};

const msgpack::object_array& Array(const msgpack::object& object) {
    if (object.type != msgpack::type::ARRAY) throw msgpack::type_error();
    return object.via.array;
}

void UnpackOrder(const msgpack::object& object, Peer::Order& o) {
    CMap map(object);
    map.Get("id", o.id);
    map.Get("customer", o.customer);
    map.Get("note", o.note);
    map.Get("amount", o.amount);
    map.Get("quantity", o.quantity);
    map.Get("flags", o.flags);
    map.Get("active", o.active);
    map.Get("created", o.created);
    const msgpack::object& payload = map["payload"];
    if (payload.type != msgpack::type::BIN || payload.via.bin.size != o.payload.size())
        throw Peer::CBadDocument("payload: not 32 bytes");
    std::memcpy(o.payload.data(), payload.via.bin.ptr, o.payload.size());
    CMap shipTo(map["shipTo"]);
    shipTo.Get("street", o.shipTo.street);
    shipTo.Get("city", o.shipTo.city);
    shipTo.Get("zip", o.shipTo.zip);
    const msgpack::object_array& lines = Array(map["lines"]);
    o.lines.resize(lines.size);
    for (uint32_t i = 0; i < lines.size; ++i) {
        CMap line(lines.ptr[i]);
        line.Get("sku", o.lines[i].sku);
        line.Get("price", o.lines[i].price);
        line.Get("count", o.lines[i].count);
    }
    const msgpack::object_array& tags = Array(map["tags"]);
    o.tags.resize(tags.size);
    for (uint32_t i = 0; i < tags.size; ++i) tags.ptr[i].convert(o.tags[i]);
}

bool ReferenceDocument(msgpack::type::object_type, std::size_t, void*) { return true; }

struct SMsgpack {
    using Document = std::string;
    static constexpr bool kHeapCounted = false;
    static size_t WriteOnce(const SWorkload& w) {
        msgpack::sbuffer buffer;
        Pack(buffer, w.peer);
        benchmark::DoNotOptimize(buffer.data());
        return buffer.size();
    }
    static Document Write(const SWorkload& w) {
        msgpack::sbuffer buffer;
        Pack(buffer, w.peer);
        return Document(buffer.data(), buffer.size());
    }
    static Peer::Orders Read(const Document& doc) {
        const msgpack::object_handle handle =
            msgpack::unpack(doc.data(), doc.size(), ReferenceDocument);
        const msgpack::object_array& orders = Array(handle.get());
        Peer::Orders read(orders.size);
        for (uint32_t i = 0; i < orders.size; ++i) UnpackOrder(orders.ptr[i], read[i]);
        return read;
    }
};

}  // namespace

void RegisterMsgpack(EFormat format, unsigned count) {
    if (format == EFormat::Binary) RegisterWriteRead<SMsgpack>(format, "msgpack", count);
}

}  // namespace PeersBench
