// cereal's archives (binary, JSON, XML) and Boost.Serialization's (binary, text, XML). The JSON
// table holds Boost's text archive, its nearest text format, shown beside and in no ratio.
//
// The archives write a stream: they write into a std::ostringstream and read from a stream
// buffer over the document (no copy of it per read).
#include <array>
#include <sstream>
#include <streambuf>
#include <string>
#include <type_traits>

#include <boost/archive/binary_iarchive.hpp>
#include <boost/archive/binary_oarchive.hpp>
#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/archive/xml_iarchive.hpp>
#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/binary_object.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

#include <cereal/archives/binary.hpp>
#include <cereal/archives/json.hpp>
#include <cereal/archives/xml.hpp>
#include <cereal/cereal.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/vector.hpp>

#include "common.h"

namespace Peer {

// cereal, found through argument-dependent lookup.

template <class A>
void serialize(A& ar, Address& a) {
    ar(cereal::make_nvp("street", a.street), cereal::make_nvp("city", a.city),
       cereal::make_nvp("zip", a.zip));
}

template <class A>
void serialize(A& ar, Line& l) {
    ar(cereal::make_nvp("sku", l.sku), cereal::make_nvp("price", l.price),
       cereal::make_nvp("count", l.count));
}

// Raw bytes in the binary archive, Base64 in the text archives (their own encoder).
template <class A>
void CerealPayload(A& ar, std::array<unsigned char, 32>& payload) {
    if constexpr (std::is_same_v<A, cereal::BinaryOutputArchive> ||
                  std::is_same_v<A, cereal::BinaryInputArchive>) {
        ar(cereal::make_nvp("payload", cereal::binary_data(payload.data(), payload.size())));
    } else if constexpr (A::is_saving::value) {
        ar.saveBinaryValue(payload.data(), payload.size(), "payload");
    } else {
        ar.loadBinaryValue(payload.data(), payload.size(), "payload");
    }
}

template <class A>
void serialize(A& ar, Order& o) {
    ar(cereal::make_nvp("id", o.id), cereal::make_nvp("customer", o.customer),
       cereal::make_nvp("note", o.note), cereal::make_nvp("amount", o.amount),
       cereal::make_nvp("quantity", o.quantity), cereal::make_nvp("flags", o.flags),
       cereal::make_nvp("active", o.active), cereal::make_nvp("created", o.created));
    CerealPayload(ar, o.payload);
    ar(cereal::make_nvp("shipTo", o.shipTo), cereal::make_nvp("lines", o.lines),
       cereal::make_nvp("tags", o.tags));
}

}  // namespace Peer

// Boost.Serialization, non-intrusive. These take a version argument, so cereal never sees them.
namespace boost::serialization {

template <class A>
void serialize(A& ar, Peer::Address& a, const unsigned int) {
    ar& make_nvp("street", a.street);
    ar& make_nvp("city", a.city);
    ar& make_nvp("zip", a.zip);
}

template <class A>
void serialize(A& ar, Peer::Line& l, const unsigned int) {
    ar& make_nvp("sku", l.sku);
    ar& make_nvp("price", l.price);
    ar& make_nvp("count", l.count);
}

template <class A>
void serialize(A& ar, Peer::Order& o, const unsigned int) {
    ar& make_nvp("id", o.id);
    ar& make_nvp("customer", o.customer);
    ar& make_nvp("note", o.note);
    ar& make_nvp("amount", o.amount);
    ar& make_nvp("quantity", o.quantity);
    ar& make_nvp("flags", o.flags);
    ar& make_nvp("active", o.active);
    ar& make_nvp("created", o.created);
    ar& make_nvp("payload", make_binary_object(o.payload.data(), o.payload.size()));
    ar& make_nvp("shipTo", o.shipTo);
    ar& make_nvp("lines", o.lines);
    ar& make_nvp("tags", o.tags);
}

}  // namespace boost::serialization

namespace PeersBench {
namespace {

// A read-only stream buffer over bytes the caller keeps: the peers read from memory without a
// copy of the document per iteration, as this library's readers do.
class CMemoryBuffer : public std::streambuf {
public:
    CMemoryBuffer(const char* data, size_t size) {
        char* begin = const_cast<char*>(data);  // get area only; never written through
        setg(begin, begin, begin + size);
    }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override {
        if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
        char* base = eback();
        char* target = dir == std::ios_base::beg   ? base + off
                       : dir == std::ios_base::cur ? gptr() + off
                                                   : egptr() + off;
        if (target < base || target > egptr()) return pos_type(off_type(-1));
        setg(base, target, egptr());
        return pos_type(target - base);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }
};

// Writing through an archive into a string stream, for an archive struct `A` with a static
// Serialize(std::ostream&, const Peer::Orders&).
template <class A>
struct SStreamWrites {
    static size_t WriteOnce(const SWorkload& w) {
        std::ostringstream stream;
        A::Serialize(stream, w.peer);
        return static_cast<size_t>(stream.tellp());
    }
    static std::string Write(const SWorkload& w) {
        std::ostringstream stream;
        A::Serialize(stream, w.peer);
        return std::move(stream).str();
    }
};

template <class Out, class In>
struct SCereal : SStreamWrites<SCereal<Out, In>> {
    using Document = std::string;
    static constexpr bool kHeapCounted = true;
    static void Serialize(std::ostream& stream, const Peer::Orders& orders) {
        if constexpr (std::is_same_v<Out, cereal::JSONOutputArchive>) {
            // One TAB per level, like this library's JSON; shortest round-trip numbers.
            using Options = cereal::JSONOutputArchive::Options;
            Out archive(stream, Options(324, Options::IndentChar::tab, 1));
            archive(cereal::make_nvp("orders", orders));
        } else {
            Out archive(stream);
            archive(cereal::make_nvp("orders", orders));
        }  // the text archives finish their document when they are destroyed
    }
    static Peer::Orders Read(const Document& doc) {
        CMemoryBuffer buffer(doc.data(), doc.size());
        std::istream stream(&buffer);
        Peer::Orders read;
        {
            In archive(stream);
            archive(cereal::make_nvp("orders", read));
        }
        return read;
    }
};

template <class Out, class In>
struct SBoost : SStreamWrites<SBoost<Out, In>> {
    using Document = std::string;
    static constexpr bool kHeapCounted = true;
    static void Serialize(std::ostream& stream, const Peer::Orders& orders) {
        Out archive(stream);
        archive << boost::serialization::make_nvp("orders", orders);
    }
    static Peer::Orders Read(const Document& doc) {
        CMemoryBuffer buffer(doc.data(), doc.size());
        std::istream stream(&buffer);
        Peer::Orders read;
        {
            In archive(stream);
            archive >> boost::serialization::make_nvp("orders", read);
        }
        return read;
    }
};

}  // namespace

void RegisterArchives(EFormat format, unsigned count) {
    using namespace boost::archive;
    switch (format) {
        case EFormat::Binary:
            RegisterWriteRead<SCereal<cereal::BinaryOutputArchive, cereal::BinaryInputArchive>>(
                format, "cereal", count);
            RegisterWriteRead<SBoost<binary_oarchive, binary_iarchive>>(format, "boost", count);
            break;
        case EFormat::Json:
            RegisterWriteRead<SCereal<cereal::JSONOutputArchive, cereal::JSONInputArchive>>(
                format, "cereal", count);
            RegisterWriteRead<SBoost<text_oarchive, text_iarchive>>(format, "boost_text", count);
            break;
        case EFormat::Xml:
            RegisterWriteRead<SCereal<cereal::XMLOutputArchive, cereal::XMLInputArchive>>(
                format, "cereal", count);
            RegisterWriteRead<SBoost<xml_oarchive, xml_iarchive>>(format, "boost", count);
            break;
    }
}

}  // namespace PeersBench
