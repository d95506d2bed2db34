// The tool's generic value tree: what a JSON or XML document becomes on its way to another
// format, with each value's kind decided (by the rules of the README, or after a binary
// document of the same shape), and the adapters that replay a tree or a decoded binary
// document through the library's writers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <tavrin/tavrin.h>

namespace TavrinTool {

using Tavrin::EValueKind;

constexpr uint32_t kNoId = 0xFFFFFFFFu;

struct SValue {
    EValueKind kind = EValueKind::WString;
    std::string name;        // member name; empty for elements and the root
    std::string className;   // objects (and containers held by containers, for XML)
    uint64_t bits = 0;       // scalars as stored bits; date-times as 100-ns counts
    std::string bytes;       // narrow strings, blobs
    std::wstring wide;       // wide strings
    bool present = true;     // false when the document did not give this value
    bool emptyText = false;  // the document holds the value as empty text
    EValueKind elementKind = EValueKind::Bool;  // containers
    std::vector<SValue> children;
    std::vector<uint32_t> order;  // objects: the order in which to write the children
    // For a binary document of the same shape: identifiers of the name and class name there.
    uint32_t nameId = kNoId;
    uint32_t classId = kNoId;
    uint32_t maxId = 0;  // largest identifier in this subtree, + 1 (0: none)
};

// Counts values as they are written and shows a progress line on a terminal once an
// operation has run for more than a second.
class CProgress {
public:
    explicit CProgress(const char* what, uint64_t total = 0);
    ~CProgress();
    void Step(uint64_t n = 1) {
        m_done += n;
        if ((m_done & 0x3FFF) < n) Show();
    }

private:
    void Show();
    const char* m_what;
    uint64_t m_total;
    uint64_t m_done = 0;
    int64_t m_start;
    bool m_shown = false;
    bool m_terminal;
};

// Class names that a binary document does not store.
inline constexpr const char* kDefaultRootClass = "Document";
inline constexpr const char* kDefaultContainerClass = "Container";
inline constexpr const char* kDefaultObjectClass = "Object";

// Writers ---------------------------------------------------------------------------------------

// Writes a decoded binary document (its root) through `writer`; `rootClass` names the root.
void WriteBinaryNode(Tavrin::IWriter& writer, const Tavrin::CBinaryDocument& document,
                     const std::string& rootClass, CProgress* progress);

// Writes a value tree (its root, an object or a container) through `writer`.
void WriteTree(Tavrin::IWriter& writer, const SValue& root, CProgress* progress);

// Reading text documents into trees ---------------------------------------------------------------

// Builds the tree of a JSON or XML document: kinds after `like` (a binary document of the same
// shape) where it has a value of that name or position, inferred otherwise; values read through
// the library's own readers. Throws std::runtime_error for what a binary document cannot hold
// (a null array element, a container of objects and scalars) and whatever the readers throw.
SValue ReadJsonTree(const Tavrin::CJsonDocument& json, const Tavrin::CBinaryDocument* like,
                    std::vector<std::string>& warnings, CProgress* progress);
SValue ReadXmlTree(const Tavrin::CXmlDocument& xml, const Tavrin::CBinaryDocument* like,
                   std::vector<std::string>& warnings, CProgress* progress);

// Values in a subtree, itself included.
uint64_t CountValues(const Tavrin::SBinaryNode& node);
uint64_t CountValues(const SValue& value);

// Orders every object's values so that the binary writer gives the names the identifiers and
// the sections the entry order that `like` has. Returns false when no such order was found
// (the document then differs from `like` in more than its values).
bool OrderLike(SValue& root, const Tavrin::CBinaryDocument& like);

}  // namespace TavrinTool
