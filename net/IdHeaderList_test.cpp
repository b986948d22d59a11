#include "net/IdHeaderList.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TIdHeaderList ListOf(std::initializer_list<const char*> lines) {
  TIdHeaderList list;
  for (const char* line : lines) list.Add(line);
  return list;
}

TEST(HeaderListReading, NamesAreFoundWithoutRegardToCase) {
  TIdHeaderList list = ListOf({"Content-Type: text/xml", "Set-cookie: a=1", "set-COOKIE: b=2"});
  EXPECT_EQ(list.Values("SET-COOKIE"), "a=1");
  EXPECT_EQ(list.Values("set-cookie"), "a=1");
  EXPECT_EQ(list.IndexOfName("sEt-CoOkIe"), 1);
  EXPECT_EQ(list.IndexOfName("Set"), -1);  // a prefix of a name is not the name
  EXPECT_EQ(list.Values("Location"), "");
  EXPECT_EQ(list.Names(0), "CONTENT-TYPE");
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.Names(0), "Content-Type");
  EXPECT_EQ(ListOf({"no colon here"}).Names(0), "");
}

TEST(HeaderListReading, ContinuationLinesAreJoinedWithOneBlank) {
  TIdHeaderList list = ListOf({"X-Long: a", " b", "\tc", "Next: d"});
  EXPECT_EQ(list.Values("X-Long"), "a b c");
  EXPECT_EQ(list.Values("Next"), "d");
  // A value that already ends with a blank gets no second one.
  EXPECT_EQ(ListOf({"X: a ", "   b"}).Values("X"), "a b");
  // Leading blanks of the value go, trailing ones stay.
  EXPECT_EQ(ListOf({"X:    v  "}).Values("X"), "v  ");
  TIdHeaderList folded = ListOf({"X-Long: a", " b"});
  folded.SetUnfoldLines(false);
  EXPECT_EQ(folded.Values("X-Long"), "a");
}

TEST(HeaderListReading, AddedTextSplitsAtEveryLineEndAndExtractCollectsEveryValueOfANameInOrder) {
  TIdHeaderList list;
  list.AddText("Set-Cookie: a=1\r\nServer: x\nset-cookie: b=2;\r path=/\r\nSet-Cookie2: c=3\r\n");
  EXPECT_EQ(list.Text(), "Set-Cookie: a=1\r\nServer: x\r\nset-cookie: b=2;\r\n path=/\r\nSet-Cookie2: c=3\r\n");
  TStringList values;
  values.Add("kept");
  list.Extract("Set-cookie", values);
  EXPECT_EQ(values.Text(), "kept\r\na=1\r\nb=2; path=/\r\n");
}

TEST(HeaderListWriting, SettingReplacesInPlaceAppendsAndRemoves) {
  TIdHeaderList list = ListOf({"A: 1", "B: 2", " 2b", "C: 3"});
  list.SetValues("b", "two");
  EXPECT_EQ(list.Text(), "A: 1\r\nb: two\r\nC: 3\r\n");
  list.SetValues("D", "4");
  EXPECT_EQ(list.Text(), "A: 1\r\nb: two\r\nC: 3\r\nD: 4\r\n");
  list.Insert(1, "A: second");
  list.Insert(1, "\tfolded part");
  list.SetValues("A", "");  // removes the first A with its continuation line only
  EXPECT_EQ(list.Text(), "A: second\r\nb: two\r\nC: 3\r\nD: 4\r\n");
  list.SetValues("missing", "");
  EXPECT_EQ(list.Count(), 4);
}

TEST(HeaderListWriting, LongValuesFoldAtBlanksIntoContinuationLines) {
  TIdHeaderList list;  // fold length 78
  const std::string word(30, 'w');
  list.SetValues("X-Words", word + " " + word + " " + word);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0], "X-Words: " + word + " " + word);
  EXPECT_EQ(list[1], " " + word);
  EXPECT_EQ(list.Values("X-Words"), word + " " + word + " " + word);  // unfolding gives the value back
  // Setting it again replaces both lines.
  list.SetValues("X-Words", "short");
  EXPECT_EQ(list.Text(), "X-Words: short\r\n");
  list.SetFoldLines(false);
  list.SetValues("X-Words", word + " " + word + " " + word);
  EXPECT_EQ(list.Count(), 1);
}

TEST(HeaderFolding, TheFoldLengthBoundary) {
  // 1025 characters with a space before column 1024: two lines, the second starting with a space.
  const std::string line = "X-Big: " + std::string(1000, 'a') + " " + std::string(17, 'b');
  ASSERT_EQ(line.size(), 1025u);
  const std::vector<std::string> pieces = TIdHeaderList::FoldLine(line, 1024);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], "X-Big: " + std::string(1000, 'a'));
  EXPECT_EQ(pieces[1], " " + std::string(17, 'b'));
  // Exactly at the fold length nothing is folded.
  EXPECT_EQ(TIdHeaderList::FoldLine(line.substr(0, 1024), 1024).size(), 1u);
}

TEST(HeaderFolding, QuotesLongWordsExistingBreaksAndBlankRuns) {
  // No break inside double quotes.
  EXPECT_EQ(TIdHeaderList::FoldLine("k: \"a b c d e\" f", 8), (std::vector<std::string>{"k:", " \"a b c d e\"", " f"}));
  // A word longer than the limit stays whole and ends at the next blank.
  EXPECT_EQ(TIdHeaderList::FoldLine("k: abcdefghij kl", 5), (std::vector<std::string>{"k:", " abcdefghij", " kl"}));
  // A break already in the text always ends a piece.
  EXPECT_EQ(TIdHeaderList::FoldLine("k: a\r\n b", 78), (std::vector<std::string>{"k: a", " b"}));
  // Runs of blanks at a break vanish instead of becoming empty lines.
  EXPECT_EQ(TIdHeaderList::FoldLine("kkkk     vvvv", 4), (std::vector<std::string>{"kkkk", " vvvv"}));
  EXPECT_EQ(TIdHeaderList::FoldLine("kkkk vvvv     ", 4), (std::vector<std::string>{"kkkk", " vvvv"}));
  // Only blanks are trimmed at a break: other control bytes belong to the value.
  EXPECT_EQ(TIdHeaderList::FoldLine("k: a\x01 \x02b", 4), (std::vector<std::string>{"k:", " a\x01", " \x02b"}));
  // Text without blanks cannot be folded.
  EXPECT_EQ(TIdHeaderList::FoldLine(std::string(200, 'x'), 78).size(), 1u);
}

}  // namespace
