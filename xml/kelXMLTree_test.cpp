#include "xml/kelXMLTree.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_literals;

void LoadInto(TkelXMLTree& tree, std::string_view document, int64_t position = 0) {
  TMemoryStream stream;
  stream.WriteBuffer(document.data(), static_cast<int64_t>(document.size()));
  stream.SetPosition(position);
  tree.LoadFromStream(stream);
}

std::unique_ptr<TkelXMLTree> Load(std::string_view document) {
  auto tree = std::make_unique<TkelXMLTree>("test", "test", nullptr);
  tree->LoadFromText(document);
  return tree;
}

// A small subtree as name[attr=value ...], then ='value' (text) or #'value' (CDATA), then (child, ...).
std::string Describe(const TkelXMLNode& node) {
  std::string out(node.Name());
  for (int i = 0; i < node.AttributeCount(); ++i) {
    out.append(i == 0 ? "[" : " ").append(node.Attributes(i)->Name()).append("=").append(node.Attributes(i)->Value());
    if (i + 1 == node.AttributeCount()) out += ']';
  }
  if (node.IsCDATA() || !node.Value().empty()) out.append(node.IsCDATA() ? "#'" : "='").append(node.Value()) += "'";
  for (int i = 0; i < node.ChildCount(); ++i) out += (i == 0 ? "(" : ", ") + Describe(*node.Children(i));
  return node.ChildCount() > 0 ? out + ")" : out;
}

// ---- The scanning and building rules, one document each ----

TEST(XmlTree, DocumentsGiveTheTreesTheRulesPrescribe) {
  const struct {
    std::string document;
    std::string tree;
  } cases[] = {
      {"<t>x</t>", "root='test'(t='x')"},
      // Declarations, comments and instructions open elements that nothing closes; end tags climb one level each,
      // whatever their name, so c lands in a, not in the root.
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<r><i>1</i></r>",
       "root='test'(?xml[version=1.0 encoding=ISO-8859-1](r(i='1')))"},
      {"<a><!-- c --><b /></a><c />", "root='test'(a(!--(b), c))"},
      {"<!-- a > b --><x/>", "root='test'(!--='b -->'(x/))"},
      {"<a><b></x><c/></y><d/>", "root='test'(a(b, c/), d/)"},
      // Classification reads the first and last byte of the tag text before cleaning.
      {"<x>< /a><a/ ><br/><br /></x>", "root='test'(x(/a(a/(br/, br))))"},
      {"<\n/a>", "root='test'(/a)"},
      {"<a></><b>< ></b>", "root='test'(a, b())"},
      // The last text piece met while a node is current is its value; blank pieces change nothing.
      {"<a>one<b/>two</a>", "root='test'(a='two'(b/))"},
      {"<a><b>x</b></a>", "root='test'(a(b='x'))"},
      {"lead<a/>tail", "root='tail'(a/)"},
      {"<a>x<b/> \r\n\t </a>", "root='test'(a='x'(b/))"},
      // Cleaning: line breaks (CR LF, CR, LF; LF CR is two) and TABs become one blank, codes 0..32 are trimmed.
      {"<t>  a\r\n  b  </t>", "root='test'(t='a   b')"},
      {"<t>a\rb\nc\r\nd\n\re\tf</t>", "root='test'(t='a b c d  e f')"},
      {"<t>\x01\x1f a\x02 b\x7f \x1e</t>", "root='test'(t='a\x02 b\x7f')"},
      {"<t>a &amp; b &#60; c > d \xa0\xe9\xff</t>", "root='test'(t='a &amp; b &#60; c > d \xa0\xe9\xff')"},
      // CDATA: escaped, not cleaned; the opener in any case; markup inside is text; the flag follows the last piece.
      {"<t><![CDATA[x\r\n\ty]]></t>", "root='test'(t#'x\\n \\t y')"},
      {"<t><![CDATA[ a\nb\r ]]></t>", "root='test'(t#' a\\n b\\n  ')"},
      {"<t><![cdata[<b>1</b> & ]]></t>", "root='test'(t#'<b>1</b> & ')"},
      {"<t><![CdAtA[]]]]></t>", "root='test'(t#']]')"},
      {"<t><![CDATA x]]></t>", "root='test'(t(![CDATA))"},
      {"<t><![CDATA[x]]>y</t>", "root='test'(t='y')"},
      {"<t>y<![CDATA[]]></t>", "root='test'(t#'')"},
      // Unterminated CDATA (our choice): the rest of the document, without the break that ends its last line.
      {"<t><![CDATA[a</t><u/>\r\n", "root='test'(t#'a</t><u/>')"},
      {"<t><![CDATA[a\r\nb\n\n", "root='test'(t#'a\\n b\\n ')"},
      // "<" with no ">" after it is dropped; ">" outside a tag is text; a tag ends at the first ">", quotes or not.
      {"<t>a<b c", "root='test'(t='b c')"},
      {std::string(200000, '<') + "tail", "root='tail'"},
      {"<a x=\"<\">", "root='test'(a[x=<])"},
      {"<a x=\"1>2\">t", "root='test'(a='2\">t')"},
      // "<>" (our choice) is dropped and the scan goes on.
      {"<t><>x</t>", "root='test'(t='x')"},
      // An end tag while the root is current (our choice) keeps the root current.
      {"</a></b><c>x</c></c></c><d/>", "root='test'(c='x', d/)"},
      // Attributes: only double quotes delimit values, values are kept as written, names are trimmed.
      {"<a x = \"1\"  y=\"2\">", "root='test'(a[x=1 y=2])"},
      {"<a x='1' y=\"2\">", "root='test'(a[x=2])"},
      {"<a x=\"1\" y>", "root='test'(a[x=1])"},
      {"<a x=1 y=2>", "root='test'(a)"},
      {"<a x=\" 1 &amp; \" b c=\"2\">", "root='test'(a[x= 1 &amp;  b c=2])"},
      {"<a\r\nx=\"1\"\ty=\"2\r\n3\"\n>", "root='test'(a[x=1 y=2 3])"},
      // A NUL byte ends the document; empty and blank documents give a bare root.
      {"<t>ab\0cd</t><u/>"s, "root='test'(t='ab')"},
      {"", "root='test'"},
      {" \r\n\t \n", "root='test'"},
      {"\0<a/>"s, "root='test'"},
  };
  for (const auto& c : cases) EXPECT_EQ(Describe(*Load(c.document)), c.tree) << testing::PrintToString(c.document);
}

TEST(XmlTree, EveryBreakIsFoundWhereverItStandsInALongPiece) {
  // Long pieces are tested for breaks a word at a time: each offset, beside bytes above 127 and other controls.
  for (size_t at = 1; at < 30; ++at) {
    for (std::string_view breakText : {"\t", "\r", "\n", "\r\n"}) {
      std::string piece = "\x80\xff\x0b" + std::string(30, 'a') + "\x0c\xfe";
      piece.replace(at, 1, breakText);
      std::string cleaned = piece, escaped = piece;
      cleaned.replace(at, breakText.size(), " ");
      escaped.replace(at, breakText.size(), breakText == "\t" ? "\\t " : "\\n ");
      EXPECT_EQ(Load("<t>" + piece + "</t>")->Children(0)->Value(), cleaned) << at;
      EXPECT_EQ(Load("<t><![CDATA[" + piece + "]]></t>")->Children(0)->Value(), escaped) << at;
    }
  }
}

TEST(XmlTree, LinesHoldTheTokensOfTheLastLoad) {
  auto tree = Load(
      "<?xml version=\"1.0\"?>\r\n<feed>\n  <item a=\"1\">\tone\r\n two </item>\n  <br />\n"
      "  <![CDATA[x\ty]]><>\n</ feed\r\n>a<b c");
  EXPECT_EQ(tree->Lines().Text(),
            "OT:?xml version=\"1.0\"?\r\nOT:feed\r\nOT:item a=\"1\"\r\nTX:one  two\r\nCT:item\r\n"
            "ET:br /\r\nCD:x\\t y\r\nCT:feed\r\nTX:a\r\nTX:b c\r\n");
  LoadInto(*tree, "<t>ab\0cd</t>"s);
  EXPECT_EQ(tree->Lines().Text(), "OT:t\r\nTX:ab\r\n");
  LoadInto(*tree, "<t><![CDATA[");
  EXPECT_EQ(tree->Lines().Text(), "OT:t\r\nCD:\r\n");
  EXPECT_EQ(TkelXMLTree("test", "test", nullptr).Lines().Count(), 0);
}

TEST(XmlTree, LoadReadsFromThePositionAndReplacesAllButTheRootValueAndAddChildParsesATagText) {
  TkelXMLTree tree("test", "test", nullptr);
  LoadInto(tree, "<skip/>first<a x=\"1\"><b/></a>", 7);
  tree.AddAttribute("k", "v");
  EXPECT_EQ(Describe(tree), "root[k=v]='first'(a[x=1](b/))");
  LoadInto(tree, "<c/>");
  EXPECT_EQ(Describe(tree), "root='first'(c/)");
  LoadInto(tree, "<![CDATA[z]]>");
  EXPECT_EQ(Describe(tree), "root#'z'");

  // A tree made under another node never hands elements to that node.
  TkelXMLNode outer("outer", "", nullptr);
  TkelXMLTree inner("t", "t", &outer);
  LoadInto(inner, "</z><q/>");
  EXPECT_EQ(outer.ChildCount(), 0);
  EXPECT_EQ(Describe(inner), "root='t'(q/)");
  EXPECT_EQ(inner.Children(0)->Parent(), &inner);
  // A child added by hand has its tag text parsed as a loaded one does.
  TkelXMLNode* child = outer.AddChild("item id=\"7\" kind=\"x\"", "v");
  EXPECT_EQ(child->Parent(), &outer);
  EXPECT_EQ(Describe(outer), "outer(item[id=7 kind=x]='v')");
  child->AddChild("deeper", "");
  outer.AddAttribute("a", "b");
  outer.ClearAttributes();
  outer.ClearChildren();
  EXPECT_EQ(Describe(outer), "outer");
}

// ---- Lookup ----

TEST(XmlTree, FindNodesListsMatchingDescendantsInPreOrder) {
  auto tree = Load(
      "<?xml version=\"1.0\"?><rss>"
      "<nieuwsposting>1<nieuwsposting>2<x><nieuwsposting>3</nieuwsposting></x></nieuwsposting></nieuwsposting>"
      "<NIEUWSPOSTING>no</NIEUWSPOSTING><nieuwsposting/><nieuwsposting >4</nieuwsposting></rss>");
  TList<TkelXMLNode> found;
  tree->FindNodes("nieuwsposting", found);
  // Appends without clearing, and never tests the node it starts from.
  found[0]->FindNodes("nieuwsposting", found);
  tree->FindNodes("missing", found);
  std::string values;
  for (TkelXMLNode* node : found) values.append(node->Value());
  EXPECT_EQ(values, "123423");
}

TEST(XmlTree, ChildByNameTakesTheFirstExactDirectChild) {
  auto tree = Load("<i><ID>A</ID><id/><x><id>deep</id></x><id>first</id><id>second</id><titel></titel></i><e/>");
  const TkelXMLNode* item = tree->Children(0);
  ASSERT_NE(item->ChildByName("id"), nullptr);
  EXPECT_EQ(item->ChildByName("id")->Value(), "first");
  EXPECT_EQ(item->ChildByName("id/"), item->Children(1));
  ASSERT_NE(item->ChildByName("titel"), nullptr);
  EXPECT_EQ(item->ChildByName("titel")->Value(), "");
  EXPECT_EQ(item->ChildByName("tijd"), nullptr);
  EXPECT_EQ(tree->Children(1)->ChildByName("id"), nullptr);
}

// ---- Hostile depth: nothing may recurse as deep as the nesting ----

TEST(XmlTree, MillionUnclosedTagsLoadSearchAndDestroyWithoutRecursion) {
  constexpr int kDepth = 1000000;
  std::string document;
  for (int i = 0; i < kDepth; ++i) document += "<a>";
  document += "<x>deep</x>";
  {
    auto tree = Load(document);
    TList<TkelXMLNode> chain;
    tree->FindNodes("a", chain);
    tree->FindNodes("x", chain);
    ASSERT_EQ(chain.Count(), kDepth + 1);
    EXPECT_EQ(chain[0]->Parent(), tree.get());
    EXPECT_EQ(chain[kDepth - 1]->Parent(), chain[kDepth - 2]);
    EXPECT_EQ(chain[kDepth]->Parent(), chain[kDepth - 1]);
    EXPECT_EQ(chain[kDepth]->Value(), "deep");
    LoadInto(*tree, document);  // a reload drops the deep tree too
    EXPECT_EQ(tree->ChildCount(), 1);
  }
  TkelXMLNode top("top", "", nullptr);  // a deep chain made through AddChild, outside any tree
  TkelXMLNode* node = &top;
  for (int i = 0; i < kDepth; ++i) node = node->AddChild("n", "");
  top.ClearChildren();
  EXPECT_EQ(top.ChildCount(), 0);
}

}  // namespace
