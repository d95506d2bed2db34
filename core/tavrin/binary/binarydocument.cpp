// CBinaryDocument: decodes a document for inspection. The primitives come from the binary
// reader's memory source (sources.h), so that values, their checks and their exceptions are the
// reader's; what is kept differs: every value in document order, with its name, class name and
// kind, and the bytes each part of the document took.
#include <tavrin/binarydocument.h>

#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <tavrin/qvstreambuffer.h>

#include "core/basepool/raise.h"
#include "core/basepool/utf.h"
#include "core/tavrin/binary/binaryformat.h"
#include "core/tavrin/binary/documentrecords.h"
#include "core/tavrin/binary/sources.h"
#include "core/tavrin/common/arena.h"

namespace Tavrin {

namespace Detail {

struct SBinaryDocumentView {
    CArena arena;
    std::vector<std::string_view> names;
    std::vector<CBinaryDocument::SNameEntry> table;
    SBinaryNode root{};
    uint64_t size = 0;
    SBinaryLayout layout;
};

}  // namespace Detail

namespace {

using Binary::CMemorySource;
using Cursor = CMemorySource::Cursor;

constexpr const char* kKindNames[kValueKindCount] = {
    "bool",  "char",  "uint8",  "int8",   "uint16",  "int16",    "uint32", "int32",  "uint64",
    "int64", "float", "double", "string", "wstring", "datetime", "blob",   "object", "container"};

class CViewLoader {
public:
    CViewLoader(CMemorySource& source, Detail::SBinaryDocumentView& view, uint64_t size)
        : m_source(source), m_view(view), m_size(size) {}

    void ReadNameTable() {
        Cursor c = m_source.Resume();
        const uint64_t start = Offset(c);
        const uint32_t count = m_source.U32(c);
        std::unordered_map<std::string_view, uint32_t> byText;
        for (uint32_t i = 0; i < count; ++i) {
            const std::string_view s = m_source.Name(c);
            uint32_t name = 0;
            if (const auto found = byText.find(s); found != byText.end()) {
                name = found->second;
            } else {
                char* text = static_cast<char*>(m_view.arena.Allocate(s.size() + 1, 1));
                if (!s.empty()) std::memcpy(text, s.data(), s.size());
                text[s.size()] = '\0';
                name = static_cast<uint32_t>(m_view.names.size());
                m_view.names.emplace_back(text, s.size());
                byText.emplace(m_view.names.back(), name);
            }
            const uint32_t id = m_source.U32(c);
            m_view.table.push_back({name, id});
            m_ids[id] = name;  // a repeated identifier keeps the last text, as in the reader
        }
        m_view.layout.nameTable = Offset(c) - start;
        m_source.Park(c);
    }

    // Reads a data record into `node`.
    void ReadObject(SBinaryNode& node, unsigned int depth) {
        if (depth > Binary::kMaxDepth) Detail::Raise(Detail::ERaise::BinaryObjectTooDeep);
        node.kind = EValueKind::Object;
        Cursor c = m_source.Resume();
        uint64_t start = Offset(c);
        const uint8_t sections = m_source.U8(c);
        uint64_t head = Offset(c) - start;  // the section count
        const size_t base = m_stack.size();
        for (unsigned int s = 0; s < sections; ++s) {
            start = Offset(c);
            const uint8_t tag = m_source.U8(c);
            if (tag >= Binary::kTagCount) Detail::Raise(Detail::ERaise::BinarySectionTag);
            const uint32_t count = m_source.U32(c);
            uint64_t& bytes = m_view.layout.kinds[tag];
            bytes += Offset(c) - start;
            for (uint32_t i = 0; i < count; ++i) {
                start = Offset(c);
                SBinaryNode e{};
                e.kind = static_cast<EValueKind>(tag);
                e.name = Resolve(m_source.U32(c), Detail::ERaise::BinaryUnknownName);
                e.className = SBinaryNode::kNone;
                if (tag == Binary::kTagObject) {
                    e.className = Resolve(m_source.U32(c), Detail::ERaise::BinaryUnknownName);
                    bytes += Offset(c) - start;
                    m_source.Park(c);
                    ReadObject(e, depth + 1);
                    c = m_source.Resume();
                } else if (tag == Binary::kTagContainer) {
                    bytes += Offset(c) - start;
                    m_source.Park(c);
                    ReadContainer(e, depth + 1);
                    c = m_source.Resume();
                } else {
                    ReadValue(c, e, false);
                    bytes += Offset(c) - start;
                }
                m_stack.push_back(e);
            }
        }
        m_view.layout.kinds[Binary::kTagObject] += head;
        m_source.Park(c);
        Close(node, base);
    }

    // Reads a container record into `node`.
    void ReadContainer(SBinaryNode& node, unsigned int depth) {
        if (depth > Binary::kMaxDepth) Detail::Raise(Detail::ERaise::BinaryContainerTooDeep);
        node.kind = EValueKind::Container;
        node.className = SBinaryNode::kNone;
        Cursor c = m_source.Resume();
        const uint64_t start = Offset(c);
        const uint8_t tag = m_source.U8(c);
        node.elementKind = static_cast<EValueKind>(tag);
        const uint32_t count = m_source.U32(c);
        if (count == 0) {
            m_view.layout.kinds[Binary::kTagContainer] += Offset(c) - start;
            m_source.Park(c);
            Close(node, m_stack.size());
            return;
        }
        if (tag == Binary::kTagObject) {
            const uint32_t listed = m_source.Bool(c) ? 1 : count;
            for (uint32_t i = 0; i < listed; ++i) {
                Resolve(m_source.U32(c), Detail::ERaise::BinaryUnknownClassName);
            }
        }
        if (tag >= Binary::kTagCount) Detail::Raise(Detail::ERaise::BinaryElementTag);
        m_view.layout.kinds[Binary::kTagContainer] += Offset(c) - start;
        uint64_t& bytes = m_view.layout.kinds[tag];
        const size_t base = m_stack.size();
        for (uint32_t i = 0; i < count; ++i) {
            SBinaryNode e{};
            e.kind = static_cast<EValueKind>(tag);
            e.name = SBinaryNode::kNone;
            e.className = SBinaryNode::kNone;
            const uint64_t at = Offset(c);
            if (tag == Binary::kTagObject) {
                e.className = Resolve(m_source.U32(c), Detail::ERaise::BinaryUnknownClassName);
                bytes += Offset(c) - at;
                m_source.Park(c);
                ReadObject(e, depth + 1);
                c = m_source.Resume();
            } else if (tag == Binary::kTagContainer) {
                m_source.Park(c);
                ReadContainer(e, depth + 1);
                c = m_source.Resume();
            } else {
                ReadValue(c, e, true);
                bytes += Offset(c) - at;
            }
            m_stack.push_back(e);
        }
        m_source.Park(c);
        Close(node, base);
    }

    uint64_t Offset(const Cursor& c) const noexcept { return m_size - m_source.Remaining(c); }

private:
    uint32_t Resolve(uint32_t id, Detail::ERaise unknown) const {
        const auto it = m_ids.find(id);
        if (it == m_ids.end()) Detail::Raise(unknown);
        return it->second;
    }

    // A scalar, text, date-time or blob value.
    void ReadValue(Cursor& c, SBinaryNode& e, bool element) {
        const uint8_t tag = static_cast<uint8_t>(e.kind);
        if (tag < Binary::kTagString) {
            e.bits = m_source.Scalar(c, tag);
            return;
        }
        switch (tag) {
            case Binary::kTagString: {
                const unsigned char* record = m_source.String(c, m_view.arena);
                e.data = record + Binary::kNarrowHead;
                e.size = Binary::RecordLength(record);
                break;
            }
            case Binary::kTagWString: {
                const unsigned char* record = m_source.WString(c, m_view.arena);
                e.data = record + Binary::kWideHead;
                e.size = Binary::WideUnits(record);
                break;
            }
            case Binary::kTagDateTime: e.bits = m_source.DateTime(c); break;
            default: {  // blob
                const uint32_t size = m_source.U32(c);
                bool exact = true;
                const unsigned char* record = m_source.Blob(c, m_view.arena, size, exact);
                if (!exact && !element) Detail::Raise(Detail::ERaise::BinaryShortBlob);
                e.data = record + Binary::kNarrowHead;
                e.size = Binary::RecordLength(record);
                break;
            }
        }
    }

    // Moves the children gathered since `base` into the arena as the node's children.
    void Close(SBinaryNode& node, size_t base) {
        const size_t n = m_stack.size() - base;
        node.size = n;
        node.data = n ? m_view.arena.Copy(m_stack.data() + base, n) : nullptr;
        m_stack.resize(base);
    }

    CMemorySource& m_source;
    Detail::SBinaryDocumentView& m_view;
    uint64_t m_size;
    std::unordered_map<uint32_t, uint32_t> m_ids;  // identifier -> name index
    std::vector<SBinaryNode> m_stack;              // children of the records being read
};

}  // namespace

const char* ValueKindName(EValueKind kind) noexcept {
    const unsigned int k = static_cast<unsigned int>(kind);
    return k < kValueKindCount ? kKindNames[k] : "?";
}

CBinaryDocument::CBinaryDocument(const void* data, size_t size)
    : m_view(std::make_unique<Detail::SBinaryDocumentView>()) {
    QvStreamReadBinaryBuffer stream(data, size);
    stream.ReadAndCompareVersion(0);
    uint8_t kind = 0;
    stream.ReadUInt8(kind);
    m_view->layout.header = 5;
    uint64_t available = 0;
    const unsigned char* bytes = stream.GetContiguous(available);
    CMemorySource source(stream, bytes, available);
    CViewLoader loader(source, *m_view, size);
    loader.ReadNameTable();
    SBinaryNode& root = m_view->root;
    root.name = SBinaryNode::kNone;
    root.className = SBinaryNode::kNone;
    if (kind == Binary::kTagObject) {
        loader.ReadObject(root, 1);
    } else if (kind == Binary::kTagContainer) {
        loader.ReadContainer(root, 1);
    } else {
        Detail::Raise(Detail::ERaise::BinaryRootKind);
    }
    const Cursor end = source.Resume();
    m_view->size = loader.Offset(end);
    source.Finish(end);
}

CBinaryDocument::~CBinaryDocument() = default;

const SBinaryNode& CBinaryDocument::GetRoot() const noexcept { return m_view->root; }

size_t CBinaryDocument::GetNameCount() const noexcept { return m_view->names.size(); }

std::string_view CBinaryDocument::GetName(size_t index) const noexcept {
    return index < m_view->names.size() ? m_view->names[index] : std::string_view();
}

size_t CBinaryDocument::GetNameEntryCount() const noexcept { return m_view->table.size(); }

CBinaryDocument::SNameEntry CBinaryDocument::GetNameEntry(size_t index) const noexcept {
    return index < m_view->table.size() ? m_view->table[index] : SNameEntry{SBinaryNode::kNone, 0};
}

uint64_t CBinaryDocument::GetSize() const noexcept { return m_view->size; }

const SBinaryLayout& CBinaryDocument::GetLayout() const noexcept { return m_view->layout; }

std::wstring CBinaryDocument::WideText(const SBinaryNode& node) {
    std::wstring text;
    if (node.kind != EValueKind::WString || node.size == 0) return text;
    text.resize(static_cast<size_t>(node.size));
    text.resize(Detail::DecodeUtf16(static_cast<const unsigned char*>(node.data),
                                    static_cast<size_t>(node.size), text.data()));
    return text;
}

}  // namespace Tavrin
