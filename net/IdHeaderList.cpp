#include "net/IdHeaderList.h"

#include "net/IdGlobalProtocols.h"

namespace {

bool IsBreakChar(char c) { return c == ' ' || c == '\t'; }
bool IsBreakOrLineEnd(char c) { return IsBreakChar(c) || c == '\r' || c == '\n'; }

// Blanks are spaces and tabs (and, at the end of a folded piece, line ends): other control bytes are part of the
// value and must survive folding and unfolding.
std::string TrimBlanksLeft(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsBreakChar(text[i])) ++i;
  return text.substr(i);
}

std::string TrimBlanksAndLineEndsRight(const std::string& text) {
  size_t n = text.size();
  while (n > 0 && IsBreakOrLineEnd(text[n - 1])) --n;
  return text.substr(0, n);
}

// The break text that folding writes between pieces: the list keeps it as a line end followed by a space.
constexpr char kExistingBreak[] = "\r\n ";
constexpr size_t kExistingBreakLength = 3;

// Compares the name part of a line with a name without regard to ASCII case, without copying the line.
bool LineNameEquals(const std::string& line, const std::string& terminator, const std::string& name) {
  const size_t end = terminator.empty() ? 0 : line.find(terminator);
  if (end == std::string::npos || end != name.size()) return false;
  for (size_t i = 0; i < end; ++i) {
    char a = line[i];
    char b = name[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

}  // namespace

std::string TIdHeaderList::NameTerminator() const { return TrimRight(nameValueSeparator_); }

bool TIdHeaderList::IsContinuationLine(int index) const {
  const std::string& line = Strings(index);
  return !line.empty() && IsBreakChar(line[0]);
}

int TIdHeaderList::IndexOfName(const std::string& name) const {
  const std::string terminator = NameTerminator();
  for (int i = 0; i < Count(); ++i) {
    if (LineNameEquals(Strings(i), terminator, name)) return i;
  }
  return -1;
}

std::string TIdHeaderList::Names(int index) const {
  const std::string& line = Strings(index);
  const std::string terminator = NameTerminator();
  const size_t end = terminator.empty() ? std::string::npos : line.find(terminator);
  if (end == std::string::npos) return std::string();
  std::string name = line.substr(0, end);
  return caseSensitive_ ? name : UpperCase(name);
}

std::string TIdHeaderList::GetValueFromLine(int index) const {
  const std::string& line = Strings(index);
  const std::string terminator = NameTerminator();
  const size_t end = terminator.empty() ? std::string::npos : line.find(terminator);
  std::string value = end == std::string::npos ? std::string() : line.substr(end + terminator.size());
  if (unfoldLines_) {
    for (int next = index + 1; next < Count() && IsContinuationLine(next); ++next) {
      const std::string piece = TrimBlanksLeft(Strings(next));
      if (!value.empty() && IsBreakChar(value.back())) {
        value += piece;
      } else {
        value += ' ';
        value += piece;
      }
    }
  }
  return TrimBlanksLeft(value);
}

std::string TIdHeaderList::Values(const std::string& name) const {
  const int index = IndexOfName(name);
  return index < 0 ? std::string() : GetValueFromLine(index);
}

void TIdHeaderList::DeleteFoldedLines(int index) {
  while (index + 1 < Count() && IsContinuationLine(index + 1)) Delete(index + 1);
}

void TIdHeaderList::SetValues(const std::string& name, const std::string& value) {
  int index = IndexOfName(name);
  if (value.empty()) {
    if (index >= 0) {
      if (foldLines_) DeleteFoldedLines(index);
      Delete(index);
    }
    return;
  }
  if (index < 0) index = Add(std::string());
  const std::string line = name + nameValueSeparator_ + value;
  if (!foldLines_) {
    Put(index, line);
    return;
  }
  DeleteFoldedLines(index);
  const std::vector<std::string> pieces = FoldLine(line, foldLength_);
  Put(index, pieces.empty() ? line : pieces[0]);
  for (size_t k = 1; k < pieces.size(); ++k) Insert(index + static_cast<int>(k), pieces[k]);
}

void TIdHeaderList::Extract(const std::string& name, TStringList& dest) const {
  const std::string terminator = NameTerminator();
  for (int i = 0; i < Count(); ++i) {
    if (LineNameEquals(Strings(i), terminator, name)) dest.Add(GetValueFromLine(i));
  }
}

void TIdHeaderList::AddText(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      Add(text.substr(start));
      return;
    }
    Add(text.substr(start, end - start));
    start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
}

std::vector<std::string> TIdHeaderList::FoldLine(const std::string& line, int foldLength) {
  std::vector<std::string> pieces;
  const size_t limit = foldLength < 0 ? 0 : static_cast<size_t>(foldLength);
  const size_t n = line.size();
  std::string piece;
  size_t breakAt = std::string::npos;  // index in piece of the last break character; never 0
  bool quoted = false;

  auto emit = [&pieces](const std::string& text) {
    std::string trimmed = TrimBlanksAndLineEndsRight(text);
    // Only the first piece may be empty: an empty continuation line would read as the end of the block.
    if (!trimmed.empty() || pieces.empty()) pieces.push_back(std::move(trimmed));
  };
  // Skips break characters and line ends from position i; the next piece then begins with one space unless the
  // text ends there.
  auto startNextPiece = [&](size_t& i, std::string rest) {
    size_t skip = 0;
    while (skip < rest.size() && IsBreakOrLineEnd(rest[skip])) ++skip;
    rest.erase(0, skip);
    if (rest.empty()) {
      while (i < n && IsBreakOrLineEnd(line[i])) ++i;
    }
    piece = (rest.empty() && i >= n) ? std::string() : " " + rest;
    breakAt = std::string::npos;
  };

  size_t i = 0;
  while (i < n) {
    const char c = line[i];
    if (IsLeadByte(c) && i + 1 < n) {
      // A double-byte character is never split and never a break.
      piece += c;
      piece += line[i + 1];
      i += 2;
    } else if (!quoted && c == '\r' && line.compare(i, kExistingBreakLength, kExistingBreak) == 0) {
      // A break already in the text always ends the piece.
      emit(piece);
      i += 2;
      startNextPiece(i, std::string());
      continue;
    } else {
      if (c == '"') {
        quoted = !quoted;
      } else if (!quoted && IsBreakChar(c) && !piece.empty()) {
        breakAt = piece.size();
      }
      piece += c;
      ++i;
    }
    if (!quoted && piece.size() > limit && breakAt != std::string::npos) {
      std::string rest = piece.substr(breakAt + 1);
      emit(piece.substr(0, breakAt + 1));
      startNextPiece(i, std::move(rest));
    }
  }
  if (!piece.empty()) emit(piece);
  return pieces;
}
