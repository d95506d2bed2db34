// The binary writer: walks the object tree into the value writers, then writes the document
// in one pass.
#include <tavrin/cwriterbinary.h>

#include <cstdint>
#include <typeinfo>

#include <tavrin/qvstream.h>
#include <tavrin/qvstreambuffer.h>

#include "core/tavrin/binary/binaryformat.h"
#include "core/tavrin/binary/bytesinks.h"
#include "core/tavrin/binary/nametable.h"
#include "core/tavrin/binary/valuewriters.h"

namespace Tavrin {

namespace {

using namespace Binary;

constexpr uint8_t kRootObject = kTagObject;
constexpr uint8_t kRootContainer = kTagContainer;

// The document: the head through the stream's own operations; the root's record through
// WriteBytes in runs, with the same bytes that the typed operations would produce.
//
// The library's own buffer (that class exactly: a derived one may do other things with its
// bytes) is first given the capacity that the whole document will bring it to, so that it
// grows once instead of doubling its way there, copying as it goes; the capacity it ends with
// is the same. A buffer that could not take the document gets no such help: the writes
// themselves report it, after the part that fits.
template <class Root>
void WriteDocument(QvStreamWriteBinary& stream, uint8_t rootKind, const CNameTable& names,
                   const Root& root) {
    if (typeid(stream) == typeid(QvStreamWriteBinaryBuffer)) {
        auto& buffer = static_cast<QvStreamWriteBinaryBuffer&>(stream);
        const uint64_t size = names.HeadSize() + root.RecordSize();
        if (size <= UINT32_MAX - buffer.GetCount()) buffer.Reserve(size);
    }
    stream.WriteVersion(0);
    stream.WriteUInt8(rootKind);
    stream.WriteUInt32(names.Count());
    names.WriteEntries(stream);
    COutSink out(stream);
    root.WriteRecord(out);
    out.Flush();
}

}  // namespace

CWriterBinary::~CWriterBinary() = default;

void CWriterBinary::Write(const ISerializable& object) {
    CDocument document;
    CDataWriterBinary* root = document.AcquireData();
    object.Write(*root);
    WriteDocument(m_stream, kRootObject, document.Names(), *root);
}

void CWriterBinary::Write(const ISerializableContainer& container) {
    CDocument document;
    CContainerWriterBinary* root = document.AcquireContainer();
    container.Write(*root);
    WriteDocument(m_stream, kRootContainer, document.Names(), *root);
}

}  // namespace Tavrin
