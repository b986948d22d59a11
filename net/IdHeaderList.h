// A header block as a list of raw lines, each a name, ": " and a value. A line that starts with a space or a tab
// continues the nearest line above it that does not; reading a value joins those lines (unfolding), writing a
// value breaks a long line into such pieces (folding).
#pragma once

#include <string>
#include <vector>

#include "rtl/Classes.h"

class TIdHeaderList : public TStringList {
 public:
  static constexpr int kDefaultFoldLength = 78;

  TIdHeaderList() = default;
  explicit TIdHeaderList(int foldLength) : foldLength_(foldLength) {}

  // Written between name and value; its right-trimmed form (":") ends a name when a line is read.
  const std::string& NameValueSeparator() const { return nameValueSeparator_; }
  void SetNameValueSeparator(const std::string& value) { nameValueSeparator_ = value; }
  // When false, Names() gives names upper-cased. Look-ups by name never regard case.
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value) { caseSensitive_ = value; }
  bool UnfoldLines() const { return unfoldLines_; }
  void SetUnfoldLines(bool value) { unfoldLines_ = value; }
  bool FoldLines() const { return foldLines_; }
  void SetFoldLines(bool value) { foldLines_ = value; }
  int FoldLength() const { return foldLength_; }
  void SetFoldLength(int value) { foldLength_ = value; }

  // The value of the first line with that name (continuation lines joined when unfolding); empty when none.
  std::string Values(const std::string& name) const;
  // Replaces the first line with that name in place, or appends one; an empty value removes the line with its
  // continuation lines. A line longer than the fold length is folded into continuation lines when folding.
  void SetValues(const std::string& name, const std::string& value);
  // Position of the first line whose name equals the given one without regard to case; -1 when there is none.
  int IndexOfName(const std::string& name) const;
  // The text before the first ":" of line index (upper-cased unless case-sensitive); empty without a ":".
  std::string Names(int index) const;
  // The value of line index: the text after its name and ":", continuation lines joined when unfolding, leading
  // blanks removed.
  std::string GetValueFromLine(int index) const;
  // Appends the value of every line with that name, in order, to dest.
  void Extract(const std::string& name, TStringList& dest) const;
  // Appends a text's lines (split at CR LF, CR or LF; a final line end adds no empty line).
  void AddText(const std::string& text);

  bool IsContinuationLine(int index) const;

  // Breaks a line into pieces of at most foldLength columns where it can: after a space or tab outside double
  // quotes, and at every break that is already in the text (CR LF space). Every piece after the first starts
  // with one space; pieces lose their trailing blanks. A line that fits comes back whole.
  static std::vector<std::string> FoldLine(const std::string& line, int foldLength);

 private:
  // The name terminator: the separator without its trailing blanks.
  std::string NameTerminator() const;
  // Removes the continuation lines that follow line index.
  void DeleteFoldedLines(int index);

  std::string nameValueSeparator_ = ": ";
  bool caseSensitive_ = false;
  bool unfoldLines_ = true;
  bool foldLines_ = true;
  int foldLength_ = kDefaultFoldLength;
};
