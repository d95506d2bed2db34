// Application objects for the format tests: objects and containers scripted by functions,
// typed lists, an object holding every value kind, and a seeded generator of sample data.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <tavrin/tavrin.h>

#include "support/bytes.h"
#include "support/random.h"

namespace TestSupport {

// An object or container whose Write and Read are given as functions. Counts class-name
// queries (`asked`) and Read calls (`reads`).
template <class Base, class Writer, class ReaderT>
struct CScripted : Base {
    using Reader = ReaderT;
    std::function<void(Writer&)> write;
    std::function<void(Reader&)> read;
    std::string className;
    mutable int asked = 0;
    int reads = 0;

    explicit CScripted(std::function<void(Writer&)> w = {},
                       std::string cls = std::is_same_v<Base, Tavrin::ISerializable> ? "Obj"
                                                                                     : "List")
        : write(std::move(w)), className(std::move(cls)) {}
    const char* GetClassName() const override { return ++asked, className.c_str(); }
    void Write(Writer& w) const override {
        if (write) write(w);
    }
    void Read(Reader& r) override {
        ++reads;
        if (read) read(r);
    }
};
using CObject = CScripted<Tavrin::ISerializable, Tavrin::IDataWriter, Tavrin::IDataReader>;
using CContainer =
    CScripted<Tavrin::ISerializableContainer, Tavrin::IContainerWriter, Tavrin::IContainerReader>;

// Values compare as they are; date-times by their count, lists by their items.
inline bool Same(const QvDateTime& a, const QvDateTime& b) {
    return a.ToFileTime() == b.ToFileTime();
}
template <class T>
bool Same(const T& a, const T& b) {
    return a == b;
}
template <class T>
bool Same(const std::vector<T>& a, const std::vector<T>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const T& x, const T& y) { return Same(x, y); });
}

// A container of elements of one kind: a value, an object or another list. Reading stops at
// the first index that gives nothing.
template <class T>
struct CList : Tavrin::ISerializableContainer {
    std::vector<T> items;

    CList() = default;
    explicit CList(std::vector<T> values) : items(std::move(values)) {}
    const char* GetClassName() const override { return "List"; }
    void Write(Tavrin::IContainerWriter& w) const override {
        for (const T& x : items) w.Write(x);
    }
    void Read(Tavrin::IContainerReader& r) override {
        items.clear();
        for (unsigned int i = 0;; ++i) {
            T x{};
            if (!r.Read(i, x)) break;
            items.push_back(std::move(x));
        }
    }
    bool operator==(const CList& other) const { return Same(items, other.items); }
};

// A list of blobs.
struct CBlobList : Tavrin::ISerializableContainer {
    std::vector<Bytes> items;

    const char* GetClassName() const override { return "Blobs"; }
    void Write(Tavrin::IContainerWriter& w) const override {
        for (const Bytes& b : items) w.Write(b.size(), b.data());
    }
    void Read(Tavrin::IContainerReader& r) override {
        items.clear();
        for (unsigned int i = 0;; ++i) {
            const Tavrin::SBlobRange range = r.Read(i);
            if (range.begin == nullptr) break;
            items.emplace_back(range.begin, range.end);
        }
    }
};

// The fifteen kinds that are read into a target of their own type.
using Scalars =
    std::tuple<bool, char, signed char, unsigned char, short, unsigned short, int, unsigned int,
               long long, unsigned long long, float, double, std::string, std::wstring, QvDateTime>;

inline bool SameScalars(const Scalars& a, const Scalars& b) {
    return [&]<size_t... I>(std::index_sequence<I...>) {
        return (Same(std::get<I>(a), std::get<I>(b)) && ...);
    }
    (std::make_index_sequence<std::tuple_size_v<Scalars>>());
}

// A small nested object.
struct SInner : Tavrin::ISerializable {
    int id = 0;
    std::string name;

    const char* GetClassName() const override { return "Test::Inner"; }
    void Write(Tavrin::IDataWriter& w) const override {
        w.Write("id", id);
        w.Write("name", name);
    }
    void Read(Tavrin::IDataReader& r) override {
        r.Read("id", id);
        r.Read("name", name);
    }
    bool operator==(const SInner& o) const { return id == o.id && name == o.name; }
};

// Every value kind, each under a name of its own: the fifteen scalars as k0 to k14, a blob, an
// object and a container. `found` counts the reads that succeeded.
struct SKinds : Tavrin::ISerializable {
    Scalars v;
    Bytes blob;
    SInner inner;
    CList<int> list;
    int found = 0;

    const char* GetClassName() const override { return "Test::Kinds"; }
    void Write(Tavrin::IDataWriter& w) const override {
        [&]<size_t... I>(std::index_sequence<I...>) { (w.Write(Name(I), std::get<I>(v)), ...); }
        (std::make_index_sequence<std::tuple_size_v<Scalars>>());
        w.Write("blob", blob.size(), blob.data());
        w.Write("inner", inner);
        w.Write("list", list);
    }
    void Read(Tavrin::IDataReader& r) override {
        found = 0;
        [&]<size_t... I>(std::index_sequence<I...>) {
            ((found += r.Read(Name(I), std::get<I>(v))), ...);
        }
        (std::make_index_sequence<std::tuple_size_v<Scalars>>());
        const Tavrin::SBlobRange range = r.Read("blob");
        if (range.begin != nullptr) ++found, blob.assign(range.begin, range.end);
        found += r.Read("inner", inner);
        found += r.Read("list", list);
    }
    bool operator==(const SKinds& o) const {
        return SameScalars(v, o.v) && blob == o.blob && inner == o.inner && list == o.list;
    }
    static constexpr int kKinds = 18;

private:
    static const char* Name(size_t i) {
        static const char* const kNames[] = {"k0", "k1", "k2",  "k3",  "k4",  "k5",  "k6", "k7",
                                             "k8", "k9", "k10", "k11", "k12", "k13", "k14"};
        return kNames[i];
    }
};

// A date-time `seconds` after 1601-01-01.
inline QvDateTime Seconds(uint64_t seconds) { return QvDateTime::FromFileTime(seconds * 10000000); }

// Object i of a sample: every kind with values from a generator seeded by i, whole seconds
// for the date-time (the text formats keep no milliseconds).
inline SKinds Sample(unsigned int i) {
    CRandom g(0x7A5C1E00ull + i);
    SKinds k;
    k.v = Scalars{i % 2 == 0,
                  static_cast<char>('a' + g.Between(0, 25)),
                  static_cast<signed char>(g.Next()),
                  static_cast<unsigned char>(g.Next()),
                  static_cast<short>(g.Next()),
                  static_cast<unsigned short>(g.Next()),
                  static_cast<int>(g.Next()),
                  static_cast<unsigned int>(g.Next()),
                  static_cast<long long>(g.Next()),
                  g.Next(),
                  static_cast<float>(g.Between(1, 99999)) / 100.0f,
                  static_cast<double>(g.Between(0, 999999)) / 100.0 + 0.005,
                  g.Letters(8, 16),
                  g.Note(10, 30),
                  Seconds(13222310400ull + g.Next() % 315532800ull)};  // 2020 to 2029
    k.blob.resize(3 * g.Between(1, 10));
    for (unsigned char& b : k.blob) b = static_cast<unsigned char>(g.Next());
    k.inner.id = static_cast<int>(g.Between(10000, 99999));
    k.inner.name = g.Letters(5, 12);
    for (uint64_t n = g.Between(0, 4); n > 0; --n) {
        k.list.items.push_back(static_cast<int>(g.Next()));
    }
    return k;
}

// A container of `count` sample objects.
inline CList<SKinds> Samples(unsigned int count) {
    CList<SKinds> list;
    for (unsigned int i = 0; i < count; ++i) list.items.push_back(Sample(i));
    return list;
}

}  // namespace TestSupport
