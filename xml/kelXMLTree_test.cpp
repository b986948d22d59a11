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
  LoadInto(*tree, document);
  return tree;
}

// A compact picture of a (small) subtree: name[attr=value ...]='value' or #'cdata value', then (children, ...).
std::string Describe(const TkelXMLNode& node) {
  std::string out = node.Name();
  if (node.AttributeCount() > 0) {
    out += '[';
    for (int i = 0; i < node.AttributeCount(); ++i) {
      if (i > 0) out += ' ';
      out += node.Attributes(i)->Name() + "=" + node.Attributes(i)->Value();
    }
    out += ']';
  }
  if (node.IsCDATA()) {
    out += "#'" + node.Value() + "'";
  } else if (!node.Value().empty()) {
    out += "='" + node.Value() + "'";
  }
  if (node.ChildCount() > 0) {
    out += '(';
    for (int i = 0; i < node.ChildCount(); ++i) {
      if (i > 0) out += ", ";
      out += Describe(*node.Children(i));
    }
    out += ')';
  }
  return out;
}

std::string Shape(std::string_view document) { return Describe(*Load(document)); }

std::vector<std::string> Tokens(std::string_view document) {
  auto tree = Load(document);
  std::vector<std::string> tokens;
  for (int i = 0; i < tree->Lines().Count(); ++i) tokens.push_back(tree->Lines()[i]);
  return tokens;
}

// ---- Element structure ----

TEST(XmlTreeStructure, ElementsNestUnderTheRootRenamedRoot) {
  auto tree = Load("<t>x</t>");
  EXPECT_EQ(Describe(*tree), "root='test'(t='x')");
  EXPECT_FALSE(tree->Children(0)->IsCDATA());
  EXPECT_EQ(tree->Children(0)->Parent(), tree.get());
  EXPECT_EQ(tree->Parent(), nullptr);
}

TEST(XmlTreeStructure, DeclarationsCommentsAndInstructionsOpenElementsThatNothingCloses) {
  EXPECT_EQ(Shape("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<r><i>1</i></r>"),
            "root='test'(?xml[version=1.0 encoding=ISO-8859-1](r(i='1')))");
  // The end tag of a moves up from the comment element to a, so c lands in a.
  EXPECT_EQ(Shape("<a><!-- c --><b /></a><c />"), "root='test'(a(!--(b), c))");
  EXPECT_EQ(Shape("<!DOCTYPE rss><rss/>"), "root='test'(!DOCTYPE(rss/))");
  // A tag text ends at the first ">", also inside a comment.
  EXPECT_EQ(Shape("<!-- a > b --><x/>"), "root='test'(!--='b -->'(x/))");
}

TEST(XmlTreeStructure, EndTagsClimbOneLevelWhateverTheirName) {
  EXPECT_EQ(Shape("<a><b></x><c/></y><d/>"), "root='test'(a(b, c/), d/)");
  EXPECT_EQ(Shape("<a><b>x</b></a>"), "root='test'(a(b='x'))");
}

TEST(XmlTreeStructure, EndTagWhileRootIsCurrentKeepsTheRootCurrent) {
  EXPECT_EQ(Shape("</a></b><c>x</c></c></c><d/>"), "root='test'(c='x', d/)");

  // A tree made under another node must not hand later elements to that node.
  TkelXMLNode outer("outer", "", nullptr);
  TkelXMLTree tree("t", "t", &outer);
  LoadInto(tree, "</z><q/>");
  EXPECT_EQ(outer.ChildCount(), 0);
  EXPECT_EQ(Describe(tree), "root='t'(q/)");
}

TEST(XmlTreeStructure, ClassificationUsesTheFirstAndLastByteOfTheTagText) {
  // "< /a>" starts with a blank, so it opens an element named "/a"; "<a/ >" ends with a blank and opens "a/".
  EXPECT_EQ(Shape("<x>< /a><a/ ><br/><br /></x>"), "root='test'(x(/a(a/(br/, br))))");
  // "</>" closes; "< >" opens an element with an empty name.
  EXPECT_EQ(Shape("<a></><b>< ></b>"), "root='test'(a, b())");
}

TEST(XmlTreeStructure, LastTextPieceWinsAndOuterTextSetsTheCurrentNode) {
  EXPECT_EQ(Shape("<a>one<b/>two</a>"), "root='test'(a='two'(b/))");
  EXPECT_EQ(Shape("lead<a/>tail"), "root='tail'(a/)");
  EXPECT_EQ(Shape("<a>x</a>after"), "root='after'(a='x')");
}

TEST(XmlTreeStructure, EmptyTagTextIsDroppedAndTheScanGoesOn) {
  EXPECT_EQ(Shape("<t><>x</t>"), "root='test'(t='x')");
  EXPECT_EQ(Tokens("<t><>x</t>"), (std::vector<std::string>{"OT:t", "TX:x", "CT:t"}));
  EXPECT_EQ(Shape("<><><a/>"), "root='test'(a/)");
}

// ---- Texts ----

TEST(XmlTreeText, LineBreaksAndTabsBecomeOneBlankAndEndsAreTrimmed) {
  EXPECT_EQ(Load("<t>  a\r\n  b  </t>")->Children(0)->Value(), "a   b");
  // CR LF is one break, a lone CR or LF is one, LF CR is two.
  EXPECT_EQ(Load("<t>a\rb\nc\r\nd\n\re\tf</t>")->Children(0)->Value(), "a b c d  e f");
  // Trimming takes every code up to 32, not only blanks; interior control characters stay.
  EXPECT_EQ(Load("<t>\x01\x1f a\x02 b\x7f \x1e</t>")->Children(0)->Value(), "a\x02 b\x7f");
}

TEST(XmlTreeText, EveryBreakIsFoundWhereverItStandsInALongPiece) {
  // Long pieces are tested for breaks a word at a time; a break at any offset, beside bytes above 127 and other
  // control characters, must still be rewritten.
  for (size_t at = 1; at < 30; ++at) {
    for (const char* breakText : {"\t", "\r", "\n", "\r\n"}) {
      std::string piece = "\x80\xff\x0b" + std::string(30, 'a') + "\x0c\xfe";
      piece.replace(at, 1, breakText);
      std::string expected = piece;
      expected.replace(at, std::string_view(breakText).size(), " ");
      EXPECT_EQ(Load("<t>" + piece + "</t>")->Children(0)->Value(), expected) << at;
      std::string escaped = piece;
      escaped.replace(at, std::string_view(breakText).size(), breakText[0] == '\t' ? "\\t " : "\\n ");
      EXPECT_EQ(Load("<t><![CDATA[" + piece + "]]></t>")->Children(0)->Value(), escaped) << at;
    }
  }
}

TEST(XmlTreeText, BytesAboveAsciiEntitiesAndGreaterThanStayAsWritten) {
  EXPECT_EQ(Load("<t>a &amp; b &#60; c > d</t>")->Children(0)->Value(), "a &amp; b &#60; c > d");
  EXPECT_EQ(Load("<t>\xa0\xe9t\xe9\xff</t>")->Children(0)->Value(), "\xa0\xe9t\xe9\xff");
}

TEST(XmlTreeText, BlankPiecesDoNotReplaceAValue) { EXPECT_EQ(Shape("<a>x<b/> \r\n\t </a>"), "root='test'(a='x'(b/))"); }

// ---- CDATA ----

TEST(XmlTreeCData, ContentIsEscapedNotCleaned) {
  auto tree = Load("<t><![CDATA[x\r\n\ty]]></t>");
  EXPECT_EQ(tree->Children(0)->Value(), "x\\n \\t y");
  EXPECT_TRUE(tree->Children(0)->IsCDATA());
  EXPECT_EQ(Load("<t><![CDATA[ a\nb\r ]]></t>")->Children(0)->Value(), " a\\n b\\n  ");
}

TEST(XmlTreeCData, OpenerInAnyCaseAndMarkupInsideIsText) {
  EXPECT_EQ(Shape("<t><![cdata[<b>1</b> & ]]></t>"), "root='test'(t#'<b>1</b> & ')");
  EXPECT_EQ(Shape("<t><![CdAtA[]]]]></t>"), "root='test'(t#']]')");
  // Not an opener: "<![CDATA" without its "[" is an ordinary start tag.
  EXPECT_EQ(Shape("<t><![CDATA x]]></t>"), "root='test'(t(![CDATA))");
}

TEST(XmlTreeCData, FlagFollowsTheLastPiece) {
  EXPECT_EQ(Shape("<t><![CDATA[x]]>y</t>"), "root='test'(t='y')");
  EXPECT_EQ(Shape("<t>y<![CDATA[]]></t>"), "root='test'(t#'')");
}

TEST(XmlTreeCData, UnterminatedSectionTakesTheRestOfTheDocument) {
  EXPECT_EQ(Shape("<t><![CDATA[a</t><u/>\r\n"), "root='test'(t#'a</t><u/>')");
  // Only the break that ends the last line is left out.
  EXPECT_EQ(Load("<t><![CDATA[a\r\nb\n\n")->Children(0)->Value(), "a\\n b\\n ");
  EXPECT_EQ(Tokens("<t><![CDATA["), (std::vector<std::string>{"OT:t", "CD:"}));
}

// ---- Tags and attributes ----

TEST(XmlTreeTags, LessThanWithoutGreaterThanIsDropped) {
  EXPECT_EQ(Tokens("<t>a<b c"), (std::vector<std::string>{"OT:t", "TX:a", "TX:b c"}));
  EXPECT_EQ(Shape("<t>a<b c"), "root='test'(t='b c')");

  // A long run of them ends, with every "<" dropped.
  std::string run(200000, '<');
  run += "tail";
  EXPECT_EQ(Shape(run), "root='tail'");
}

TEST(XmlTreeTags, TagTextEndsAtTheFirstGreaterThanEvenInQuotes) {
  EXPECT_EQ(Shape("<a x=\"<\">"), "root='test'(a[x=<])");
  // The value's quote never closes inside the tag text, so a gets no attribute; the rest is text.
  EXPECT_EQ(Shape("<a x=\"1>2\">t"), "root='test'(a='2\">t')");
}

TEST(XmlTreeTags, OnlyDoubleQuotesDelimitValues) {
  EXPECT_EQ(Shape("<a x = \"1\"  y=\"2\">"), "root='test'(a[x=1 y=2])");
  EXPECT_EQ(Shape("<a x='1' y=\"2\">"), "root='test'(a[x=2])");
  EXPECT_EQ(Shape("<a x=\"1\" y>"), "root='test'(a[x=1])");
  EXPECT_EQ(Shape("<a x=1 y=2>"), "root='test'(a)");
  EXPECT_EQ(Shape("<a x=\"1 y=\"2\">"), "root='test'(a[x=1 y=])");
  EXPECT_EQ(Shape("<a x=\" 1 &amp; \">"), "root='test'(a[x= 1 &amp; ])");
  EXPECT_EQ(Shape("<a b c=\"1\">"), "root='test'(a[b c=1])");
}

TEST(XmlTreeTags, TagTextsAreCleanedAcrossLines) {
  EXPECT_EQ(Shape("<a\r\nx=\"1\"\ty=\"2\r\n3\"\n>"), "root='test'(a[x=1 y=2 3])");
  EXPECT_EQ(Shape("<\n/a>"), "root='test'(/a)");
}

TEST(XmlTreeTags, AddChildParsesATagTextAndClearingEmptiesTheLists) {
  TkelXMLNode node("n", "", nullptr);
  TkelXMLNode* child = node.AddChild("item id=\"7\" kind=\"x\"", "v");
  ASSERT_EQ(node.ChildCount(), 1);
  EXPECT_EQ(node.Children(0), child);
  EXPECT_EQ(child->Parent(), &node);
  EXPECT_EQ(Describe(node), "n(item[id=7 kind=x]='v')");
  child->AddChild("deeper", "");
  node.AddAttribute("a", "b");
  node.ClearAttributes();
  node.ClearChildren();
  EXPECT_EQ(Describe(node), "n");
}

// ---- Loading ----

TEST(XmlTreeLoad, NulByteEndsTheDocument) {
  auto tree = Load("<t>ab\0cd</t><u/>"s);
  EXPECT_EQ(Describe(*tree), "root='test'(t='ab')");
  EXPECT_EQ(tree->Lines().Count(), 2);
}

TEST(XmlTreeLoad, EmptyOrBlankDocumentGivesABareRoot) {
  for (std::string document : {""s, " \r\n\t \n"s, "\0<a/>"s, "\r"s}) {
    auto tree = Load(document);
    EXPECT_EQ(Describe(*tree), "root='test'") << testing::PrintToString(document);
    EXPECT_EQ(tree->Lines().Count(), 0);
  }
}

TEST(XmlTreeLoad, ReadsFromTheStreamPositionToTheEnd) {
  TkelXMLTree tree("test", "test", nullptr);
  LoadInto(tree, "<skip/><t>x</t>", 7);
  EXPECT_EQ(Describe(tree), "root='test'(t='x')");
}

TEST(XmlTreeLoad, SecondLoadReplacesTheContentButKeepsTheRootValue) {
  TkelXMLTree tree("test", "test", nullptr);
  LoadInto(tree, "first<a x=\"1\"><b/></a>");
  tree.AddAttribute("k", "v");
  EXPECT_EQ(Describe(tree), "root[k=v]='first'(a[x=1](b/))");
  LoadInto(tree, "<c/>");
  EXPECT_EQ(Describe(tree), "root='first'(c/)");
  EXPECT_EQ(tree.Lines().Count(), 1);
  EXPECT_EQ(tree.Lines()[0], "ET:c/");
  LoadInto(tree, "<![CDATA[z]]>");
  EXPECT_EQ(Describe(tree), "root#'z'");
}

TEST(XmlTreeLoad, LinesHoldTheTokenList) {
  const std::string document =
      "<?xml version=\"1.0\"?>\r\n"
      "<feed>\n"
      "  <item a=\"1\">\tone\r\n two </item>\n"
      "  <br />\n"
      "  <![CDATA[x\ty]]>\n"
      "</ feed\r\n>";
  EXPECT_EQ(Tokens(document), (std::vector<std::string>{"OT:?xml version=\"1.0\"?", "OT:feed", "OT:item a=\"1\"",
                                                        "TX:one  two", "CT:item", "ET:br /", "CD:x\\t y", "CT:feed"}));
  EXPECT_EQ(TkelXMLTree("test", "test", nullptr).Lines().Count(), 0);
}

// ---- Lookup ----

TEST(XmlTreeLookup, FindNodesListsEveryDescendantInPreOrder) {
  auto tree = Load(
      "<?xml version=\"1.0\"?><rss>"
      "<nieuwsposting>1<nieuwsposting>2<x><nieuwsposting>3</nieuwsposting></x></nieuwsposting></nieuwsposting>"
      "<NIEUWSPOSTING>no</NIEUWSPOSTING><nieuwsposting/><nieuwsposting >4</nieuwsposting></rss>");
  TList<TkelXMLNode> found;
  tree->FindNodes("nieuwsposting", found);
  std::vector<std::string> values;
  for (TkelXMLNode* node : found) values.push_back(node->Value());
  EXPECT_EQ(values, (std::vector<std::string>{"1", "2", "3", "4"}));

  // The start node itself is not tested, and the list is appended to, not cleared.
  TkelXMLNode* outer = found[0];
  outer->FindNodes("nieuwsposting", found);
  ASSERT_EQ(found.Count(), 6);
  EXPECT_EQ(found[4]->Value(), "2");
  EXPECT_EQ(found[5]->Value(), "3");

  TList<TkelXMLNode> none;
  tree->FindNodes("missing", none);
  EXPECT_EQ(none.Count(), 0);
}

TEST(XmlTreeLookup, ChildByNameTakesTheFirstExactDirectChild) {
  auto tree = Load("<i><ID>A</ID><id/><x><id>deep</id></x><id>first</id><id>second</id><titel></titel></i><e></e>");
  const TkelXMLNode* item = tree->Children(0);
  ASSERT_NE(item->ChildByName("id"), nullptr);
  EXPECT_EQ(item->ChildByName("id")->Value(), "first");
  EXPECT_EQ(item->ChildByName("id/"), item->Children(1));
  ASSERT_NE(item->ChildByName("titel"), nullptr);
  EXPECT_EQ(item->ChildByName("titel")->Value(), "");
  EXPECT_EQ(item->ChildByName("tijd"), nullptr);
  EXPECT_EQ(item->ChildByName("Id"), nullptr);
  EXPECT_EQ(tree->Children(1)->ChildByName("id"), nullptr);
}

// ---- Hostile depth ----

TEST(XmlTreeDepth, MillionUnclosedTagsLoadSearchAndDestroyWithoutRecursion) {
  constexpr int kDepth = 1000000;
  std::string document;
  document.reserve(kDepth * 3 + 16);
  for (int i = 0; i < kDepth; ++i) document += "<a>";
  document += "<x>deep</x>";
  {
    auto tree = Load(document);
    TList<TkelXMLNode> found;
    tree->FindNodes("x", found);
    ASSERT_EQ(found.Count(), 1);
    EXPECT_EQ(found[0]->Value(), "deep");

    TList<TkelXMLNode> chain;
    tree->FindNodes("a", chain);
    ASSERT_EQ(chain.Count(), kDepth);
    EXPECT_EQ(chain[0]->Parent(), tree.get());
    EXPECT_EQ(chain[kDepth - 1]->Parent(), chain[kDepth - 2]);
    EXPECT_EQ(found[0]->Parent(), chain[kDepth - 1]);

    // Reloading drops the deep tree the same way destruction does.
    LoadInto(*tree, document);
    EXPECT_EQ(tree->ChildCount(), 1);
  }
  // A deep chain made through AddChild, cleared from its top.
  TkelXMLNode top("top", "", nullptr);
  TkelXMLNode* node = &top;
  for (int i = 0; i < kDepth; ++i) node = node->AddChild("n", "");
  top.ClearChildren();
  EXPECT_EQ(top.ChildCount(), 0);
}

}  // namespace
