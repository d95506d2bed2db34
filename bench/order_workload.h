// The benchmark workload shared by every format: a root container of N Order objects, each
// with a nested Address, a container of four Line objects and a container of three tags.
// Object i is made from a seeded generator of its own (own arithmetic, no standard
// distributions), so every run and every platform gets the same values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <tavrin/interfaces.h>
#include <tavrin/qvdatetime.h>

#include "support/random.h"

namespace TavrinBench {

using CGenerator = TestSupport::CRandom;

struct Address : Tavrin::ISerializable {
    std::string street;
    std::string city;
    int zip = 0;

    const char* GetClassName() const override { return "Bench::Address"; }
    void Write(Tavrin::IDataWriter& w) const override {
        w.Write("street", street);
        w.Write("city", city);
        w.Write("zip", zip);
    }
    void Read(Tavrin::IDataReader& r) override {
        r.Read("street", street);
        r.Read("city", city);
        r.Read("zip", zip);
    }
    bool operator==(const Address& o) const {
        return street == o.street && city == o.city && zip == o.zip;
    }
};

struct Line : Tavrin::ISerializable {
    std::string sku;
    float price = 0;
    int count = 0;

    const char* GetClassName() const override { return "Bench::Line"; }
    void Write(Tavrin::IDataWriter& w) const override {
        w.Write("sku", sku);
        w.Write("price", price);
        w.Write("count", count);
    }
    void Read(Tavrin::IDataReader& r) override {
        r.Read("sku", sku);
        r.Read("price", price);
        r.Read("count", count);
    }
    bool operator==(const Line& o) const {
        return sku == o.sku && price == o.price && count == o.count;
    }
};

struct Lines : Tavrin::ISerializableContainer {
    std::vector<Line> items;

    const char* GetClassName() const override { return "Bench::Lines"; }
    void Write(Tavrin::IContainerWriter& w) const override {
        for (const Line& line : items) w.Write(line);
    }
    void Read(Tavrin::IContainerReader& r) override {
        items.clear();
        for (unsigned i = 0;; ++i) {
            Line line;
            if (!r.Read(i, line)) break;
            items.push_back(std::move(line));
        }
    }
};

struct Tags : Tavrin::ISerializableContainer {
    std::vector<std::string> items;

    const char* GetClassName() const override { return "Bench::Tags"; }
    void Write(Tavrin::IContainerWriter& w) const override {
        for (const std::string& tag : items) w.Write(tag);
    }
    void Read(Tavrin::IContainerReader& r) override {
        items.clear();
        std::string tag;
        for (unsigned i = 0; r.Read(i, tag); ++i) items.push_back(tag);
    }
};

struct Order : Tavrin::ISerializable {
    int id = 0;
    std::string customer;
    std::wstring note;
    double amount = 0;
    unsigned short quantity = 0;
    unsigned char flags = 0;
    bool active = false;
    QvDateTime created;
    unsigned char payload[32] = {};
    Address shipTo;
    Lines lines;
    Tags tags;

    const char* GetClassName() const override { return "Bench::Order"; }
    void Write(Tavrin::IDataWriter& w) const override {
        w.Write("id", id);
        w.Write("customer", customer);
        w.Write("note", note);
        w.Write("amount", amount);
        w.Write("quantity", quantity);
        w.Write("flags", flags);
        w.Write("active", active);
        w.Write("created", created);
        w.Write("payload", sizeof(payload), payload);
        w.Write("shipTo", shipTo);
        w.Write("lines", lines);
        w.Write("tags", tags);
    }
    void Read(Tavrin::IDataReader& r) override {
        r.Read("id", id);
        r.Read("customer", customer);
        r.Read("note", note);
        r.Read("amount", amount);
        r.Read("quantity", quantity);
        r.Read("flags", flags);
        r.Read("active", active);
        r.Read("created", created);
        const Tavrin::SBlobRange blob = r.Read("payload");
        if (blob.end - blob.begin == static_cast<std::ptrdiff_t>(sizeof(payload))) {
            std::copy(blob.begin, blob.end, payload);
        }
        r.Read("shipTo", shipTo);
        r.Read("lines", lines);
        r.Read("tags", tags);
    }
    bool operator==(const Order& o) const {
        return id == o.id && customer == o.customer && note == o.note && amount == o.amount &&
               quantity == o.quantity && flags == o.flags && active == o.active &&
               created.ToFileTime() == o.created.ToFileTime() &&
               std::equal(payload, payload + sizeof(payload), o.payload) && shipTo == o.shipTo &&
               lines.items == o.lines.items && tags.items == o.tags.items;
    }
};

// Object i of the workload.
inline Order MakeOrder(unsigned i) {
    CGenerator g(0x7A5C1E00ull + i);
    Order o;
    o.id = static_cast<int>(i);
    o.customer = g.Letters(8, 16);
    o.note = g.Note(10, 30);
    o.amount = static_cast<double>(g.Between(0, 999999)) / 100.0 + 0.005;
    o.quantity = static_cast<unsigned short>(g.Between(1, 1000));
    o.flags = static_cast<unsigned char>(g.Next());
    o.active = i % 2 == 0;
    // A second in [2020-01-01, 2030-01-01): seconds since 1601 in 100-ns units.
    constexpr uint64_t kFrom2020 = 13222310400ull;
    constexpr uint64_t kSpan = 315532800ull;
    o.created.SetFromFileTime((kFrom2020 + g.Next() % kSpan) * 10000000ull);
    for (unsigned char& b : o.payload) b = static_cast<unsigned char>(g.Next());
    o.shipTo.street = g.Letters(10, 20);
    o.shipTo.city = g.Letters(5, 12);
    o.shipTo.zip = static_cast<int>(g.Between(10000, 99999));
    for (int k = 0; k < 4; ++k) {
        Line line;
        line.sku = g.Letters(8, 8);
        line.price = static_cast<float>(g.Between(1, 99999)) / 100.0f;
        line.count = static_cast<int>(g.Between(1, 50));
        o.lines.items.push_back(std::move(line));
    }
    for (int k = 0; k < 3; ++k) o.tags.items.push_back(g.Letters(3, 8));
    return o;
}

// The root container of the workload.
struct Orders : Tavrin::ISerializableContainer {
    std::vector<Order> items;

    const char* GetClassName() const override { return "Bench::Orders"; }
    void Write(Tavrin::IContainerWriter& w) const override {
        for (const Order& order : items) w.Write(order);
    }
    void Read(Tavrin::IContainerReader& r) override {
        items.clear();
        for (unsigned i = 0;; ++i) {
            Order order;
            if (!r.Read(i, order)) break;
            items.push_back(std::move(order));
        }
    }
};

inline Orders MakeOrders(unsigned count) {
    Orders orders;
    orders.items.reserve(count);
    for (unsigned i = 0; i < count; ++i) orders.items.push_back(MakeOrder(i));
    return orders;
}

// The orders of MakeOrders(count), made once per count and kept for the benchmark's lifetime.
inline const Orders& SharedOrders(unsigned count) {
    static unsigned cachedCount = 0;
    static Orders orders;
    if (cachedCount != count) {
        orders = MakeOrders(count);
        cachedCount = count;
    }
    return orders;
}

// Number of orders of `read` that differ from `expected` (a missing or extra order counts).
inline size_t CountMismatches(const Orders& expected, const Orders& read) {
    size_t mismatches = expected.items.size() > read.items.size()
                            ? expected.items.size() - read.items.size()
                            : read.items.size() - expected.items.size();
    const size_t common = std::min(expected.items.size(), read.items.size());
    for (size_t i = 0; i < common; ++i) {
        if (!(expected.items[i] == read.items[i])) ++mismatches;
    }
    return mismatches;
}

}  // namespace TavrinBench
