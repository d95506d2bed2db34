// The parser's fast paths: byte-class content scanning, inline tag-close and marker checks,
// exact-then-caseless end-tag matching and the growable scratch lists.
#include <string>

#include <gtest/gtest.h>

#include <tavrin/tavrin.h>

#include "core/tavrin/xml/cxmlnode.h"

using Tavrin::CXmlNode;

namespace {

// The tree as one line: children as name(...), @attribute=value, 'text', raw sections with
// their markers, in document order.
std::string Tree(const CXmlNode& node) {
    if (node.IsEmpty()) return "EMPTY";
    std::string s = std::string(node.GetName() ? node.GetName() : "#") + "(";
    for (int i = 0; i < node.GetEntryCount(); ++i) {
        const int index = node.GetEntry(i) / 4;
        if (i != 0) s += ' ';
        switch (node.GetEntry(i) % 4) {
            case 0: s += Tree(node.GetChild(index)); break;
            case 1: {
                const Tavrin::SXmlAttribute a = node.GetAttribute(index);
                s += std::string("@") + a.name + (a.value ? std::string("=") + a.value : "");
                break;
            }
            case 2: s += "'" + std::string(node.GetText(index)) + "'"; break;
            default: {
                const Tavrin::SXmlClear c = node.GetClear(index);
                s += std::string(c.openMarker) + c.value + c.closeMarker;
            }
        }
    }
    return s + ")";
}

std::string Parsed(const std::string& xml) { return Tree(CXmlNode::Parse(xml.c_str())); }

TEST(XmlFastParse, ContentScanTagEndsAndMarkers) {
    const struct {
        const char* xml;
        const char* tree;
    } cases[] = {
        // A three-byte lead byte steps over the "<" right after it: no element starts there.
        {"<a>x\xE4<b>y</a>", "a('x\xE4<b>y')"},
        {"<a>x\xC3\xA9<b>y</b></a>", "a('x\xC3\xA9' b('y'))"},
        // Trailing white space goes, also when a malformed lead byte stepped over it.
        {"<a> \xC3\xA9  \n</a>", "a('\xC3\xA9')"},
        {"<a>x\xE4 \t</a>", "a('x\xE4')"},
        {"<a>\xF0\x9F\x98\x80 &amp; \xFF</a>", "a('\xF0\x9F\x98\x80 & \xFF')"},
        {"<a>x</a>y\xF0", "#(a('x') 'y\xF0')"},  // a lead byte just before the NUL
        {"<r><a>1</a><a >2</a ><a\n>3</a\t><b/><b />  </r>", "r(a('1') a('2') a('3') b() b())"},
        // End tags match the exact name or the name in another letter case, never a prefix.
        {"<Order><ID>1</id></ORDER>", "Order(ID('1'))"},
        {"<r><ab>1</AB ></R>", "r(ab('1'))"},
        {"<r><ab>1</abc></r>", "EMPTY"},
        {"<r><a>1</ab></r>", "EMPTY"},
        // Markers match ignoring case and close only with their exact close marker; names that
        // merely begin like one are elements.
        {"<r><pre>x</PRE><PREfix>1</PREfix><script>y</Script><s>2</s><p>3</p><Scrip>4</Scrip></r>",
         "r(<PRE>x</PRE> PREfix('1') <Script>y</Script> s('2') p('3') Scrip('4'))"},
        {"<r><pre>x</pre></r>", "EMPTY"},
        {"<r><!-- c --><!doctype r><![cdata[z]]></r>", "r(<!-- c --> <!DOCTYPE r> <![CDATA[z]]>)"},
    };
    for (const auto& c : cases) EXPECT_EQ(Parsed(c.xml), c.tree) << c.xml;
}

TEST(XmlFastParse, ManyEntriesAndDeepNestingKeepEveryRecord) {
    // Enough entries and levels to outgrow the scratch lists several times.
    std::string wide = "<r>";
    for (int i = 0; i < 300; ++i) {
        const std::string n = std::to_string(i);
        wide += "<e k='" + n + "' flag>" + n + "</e>t" + n;
    }
    wide += "</r>";
    const CXmlNode root = CXmlNode::Parse(wide.c_str());
    ASSERT_EQ(root.GetChildCount(), 300);
    ASSERT_EQ(root.GetTextCount(), 300);
    ASSERT_EQ(root.GetEntryCount(), 600);
    for (int i = 0; i < 300; ++i) {
        const std::string n = std::to_string(i);
        const CXmlNode e = root.GetChild(i);
        ASSERT_EQ(Tree(e), "e(@k=" + n + " @flag '" + n + "')");
        ASSERT_EQ(root.GetText(i), "t" + n);
        ASSERT_EQ(root.GetEntry(2 * i), i * 4);
        ASSERT_EQ(root.GetEntry(2 * i + 1), i * 4 + 2);
        ASSERT_EQ(e.GetParent().GetData(), root.GetData());
    }

    std::string deep;
    for (int i = 0; i < 500; ++i) deep += "<d>" + std::to_string(i);
    for (int i = 499; i >= 0; --i) deep += "</d>" + (i > 0 ? std::to_string(i) + "e" : "");
    CXmlNode node = CXmlNode::Parse(deep.c_str());
    for (int i = 0; i < 500; ++i) {
        ASSERT_STREQ(node.GetName(), "d") << i;
        ASSERT_EQ(node.GetTextCount(), i == 499 ? 1 : 2) << i;
        ASSERT_EQ(node.GetText(0), std::to_string(i)) << i;
        if (i != 499) {
            ASSERT_EQ(node.GetText(1), std::to_string(i + 1) + "e") << i;
            ASSERT_EQ(node.GetChildCount(), 1) << i;
            node = node.GetChild(0);
        }
    }
}

}  // namespace
