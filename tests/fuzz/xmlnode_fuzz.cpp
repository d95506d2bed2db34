// The XML node parser over outside text, every record of the tree visited through every accessor.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/tavrin/xml/cxmlnode.h"

namespace {

void Touch(const char* text) {
    if (text != nullptr) {
        volatile size_t sink = std::strlen(text);  // readable up to its terminator
        (void)sink;
    }
}

void Visit(const Tavrin::CXmlNode& node, int depth) {
    if (node.IsEmpty() || depth > 1100) return;
    Touch(node.GetName());
    (void)node.IsDeclaration();
    for (int i = 0; i < node.GetTextCount(); ++i) Touch(node.GetText(i));
    for (int i = 0; i < node.GetAttributeCount(); ++i) {
        const Tavrin::SXmlAttribute attribute = node.GetAttribute(i);
        Touch(attribute.name);
        Touch(attribute.value);
    }
    for (int i = 0; i < node.GetClearCount(); ++i) (void)node.GetClear(i);
    const int entries = node.GetEntryCount();
    for (int i = 0; i < entries; ++i) {
        if (node.GetEntry(i) < 0) {
            std::abort();  // every entry below the count exists
        }
    }
    for (int i = 0; i < node.GetChildCount(); ++i) {
        const Tavrin::CXmlNode child = node.GetChild(i);
        if (child.IsEmpty() || child.GetParent().GetData() != node.GetData()) {
            std::abort();  // a child knows its parent
        }
        if (child.GetName() != nullptr) {
            int start = 0;
            if (node.GetChild(child.GetName(), &start).IsEmpty()) {
                std::abort();  // a child is found by its own name
            }
        }
        Visit(child, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Visit(Tavrin::CXmlNode::Parse(text.c_str()), 0);
    return 0;
}
