// nlohmann-json: its CBOR (binary) and its JSON text, both through a json value made from the
// structs by to_json and read back into them by from_json, as the library's documentation
// shows. CBOR carries the payload as its binary type, JSON as Base64 text; everything else is
// the same code.
//
// JSON shape: dump(1, '\t') indents by one TAB per level like this library's JSON, but puts each
// opening bracket at the end of its line and a space after every colon. The default json type
// keeps object members in a std::map, so members come out in alphabetical order. Floats become
// doubles in a json value, so a price is written with up to 17 digits.
#include <nlohmann/json.hpp>

#include "common.h"

namespace Peer {

using nlohmann::json;

// Members are assigned one by one: about twice as fast as building a value from an initializer
// list, which nlohmann-json first makes into arrays of pairs. Lines and addresses are the same
// in both documents.

void to_json(json& j, const Address& a) {
    j["street"] = a.street;
    j["city"] = a.city;
    j["zip"] = a.zip;
}

void from_json(const json& j, Address& a) {
    j.at("street").get_to(a.street);
    j.at("city").get_to(a.city);
    j.at("zip").get_to(a.zip);
}

void to_json(json& j, const Line& l) {
    j["sku"] = l.sku;
    j["price"] = l.price;
    j["count"] = l.count;
}

void from_json(const json& j, Line& l) {
    j.at("sku").get_to(l.sku);
    j.at("price").get_to(l.price);
    j.at("count").get_to(l.count);
}

// An order of the CBOR document (Text false: the payload as binary) or of the JSON text (Text
// true: as Base64).
template <bool Text>
void OrderToJson(json& j, const Order& o) {
    j["id"] = o.id;
    j["customer"] = o.customer;
    j["note"] = o.note;
    j["amount"] = o.amount;
    j["quantity"] = o.quantity;
    j["flags"] = o.flags;
    j["active"] = o.active;
    j["created"] = o.created;
    if constexpr (Text) {
        j["payload"] = PeersBench::SPayloadText(o.payload).View();
    } else {
        j["payload"] =
            json::binary(json::binary_t::container_type(o.payload.begin(), o.payload.end()));
    }
    j["shipTo"] = o.shipTo;
    j["lines"] = o.lines;
    j["tags"] = o.tags;
}

template <bool Text>
void OrderFromJson(const json& j, Order& o) {
    j.at("id").get_to(o.id);
    j.at("customer").get_to(o.customer);
    j.at("note").get_to(o.note);
    j.at("amount").get_to(o.amount);
    j.at("quantity").get_to(o.quantity);
    j.at("flags").get_to(o.flags);
    j.at("active").get_to(o.active);
    j.at("created").get_to(o.created);
    if constexpr (Text) {
        PeersBench::DecodePayload(j.at("payload").get_ref<const std::string&>(), o.payload);
    } else {
        const json::binary_t& payload = j.at("payload").get_binary();
        if (payload.size() != o.payload.size()) throw CBadDocument("payload: not 32 bytes");
        std::copy(payload.begin(), payload.end(), o.payload.begin());
    }
    j.at("shipTo").get_to(o.shipTo);
    j.at("lines").get_to(o.lines);
    j.at("tags").get_to(o.tags);
}

void to_json(json& j, const Order& o) { OrderToJson<false>(j, o); }
void from_json(const json& j, Order& o) { OrderFromJson<false>(j, o); }

}  // namespace Peer

namespace PeersBench {
namespace {

using nlohmann::json;

struct SNlohmannCbor {
    using Document = std::vector<uint8_t>;
    static constexpr bool kHeapCounted = true;
    static Document Write(const SWorkload& w) { return json::to_cbor(json(w.peer)); }
    static size_t WriteOnce(const SWorkload& w) {
        const Document doc = Write(w);
        benchmark::DoNotOptimize(doc.data());
        return doc.size();
    }
    static Peer::Orders Read(const Document& doc) {
        return json::from_cbor(doc).get<Peer::Orders>();
    }
};

struct SNlohmannJson {
    using Document = std::string;
    static constexpr bool kHeapCounted = true;
    static Document Write(const SWorkload& w) {
        json root = json::array();
        root.get_ref<json::array_t&>().reserve(w.peer.size());
        for (const Peer::Order& o : w.peer) Peer::OrderToJson<true>(root.emplace_back(), o);
        return root.dump(1, '\t');
    }
    static size_t WriteOnce(const SWorkload& w) {
        const Document doc = Write(w);
        benchmark::DoNotOptimize(doc.data());
        return doc.size();
    }
    static Peer::Orders Read(const Document& doc) {
        const json root = json::parse(doc);
        const json::array_t& items = root.get_ref<const json::array_t&>();
        Peer::Orders read(items.size());
        for (size_t i = 0; i < items.size(); ++i) Peer::OrderFromJson<true>(items[i], read[i]);
        return read;
    }
};

}  // namespace

void RegisterNlohmann(EFormat format, unsigned count) {
    if (format == EFormat::Binary) RegisterWriteRead<SNlohmannCbor>(format, "nlohmann_cbor", count);
    if (format == EFormat::Json) RegisterWriteRead<SNlohmannJson>(format, "nlohmann", count);
}

}  // namespace PeersBench
