#include "xml/kelXMLTree.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// ---- Character classes ----

// One table lookup tells the scanner what a byte means to it.
enum : uint8_t {
  kBlank = 1,      // codes 0..32: trimmed from both ends of texts, tag texts and attribute names
  kRewritten = 2,  // CR, LF and TAB: changed by cleaning and by escaping
};

constexpr std::array<uint8_t, 256> MakeClassTable() {
  std::array<uint8_t, 256> table{};
  for (int c = 0; c <= 32; ++c) table[static_cast<size_t>(c)] |= kBlank;
  table['\r'] |= kRewritten;
  table['\n'] |= kRewritten;
  table['\t'] |= kRewritten;
  return table;
}

constexpr std::array<uint8_t, 256> kCharClass = MakeClassTable();

inline uint8_t ClassOf(char c) { return kCharClass[static_cast<unsigned char>(c)]; }

// The first occurrence of c in [from, end), or nullptr. Markup in a feed is dense: most searches end within a few
// bytes, where a plain loop beats the library call; long runs of text still get the library's wide scan.
inline const char* FindByte(const char* from, const char* end, char c) {
  constexpr ptrdiff_t kShortRun = 32;
  const char* shortEnd = end - from > kShortRun ? from + kShortRun : end;
  for (; from < shortEnd; ++from) {
    if (*from == c) return from;
  }
  if (from == end) return nullptr;
  return static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(end - from)));
}

constexpr std::string_view kCDataOpener = "<![CDATA[";
constexpr std::string_view kCDataCloser = "]]>";

// ---- Text rules ----

std::string_view TrimBlanks(std::string_view text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin < end && (ClassOf(*begin) & kBlank)) ++begin;
  while (end > begin && (ClassOf(end[-1]) & kBlank)) --end;
  return std::string_view(begin, static_cast<size_t>(end - begin));
}

bool HasRewritten(std::string_view text) {
  // Eight bytes at a time: a word with no byte below 14 holds no CR (13), LF (10) or TAB (9). Only words that do
  // are looked at byte by byte.
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  const char* p = text.data();
  const char* const end = p + text.size();
  for (; end - p >= 8; p += 8) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if (((word - kOnes * 14) & ~word & kHighBits) != 0) {
      for (int i = 0; i < 8; ++i) {
        if (ClassOf(p[i]) & kRewritten) return true;
      }
    }
  }
  for (; p < end; ++p) {
    if (ClassOf(*p) & kRewritten) return true;
  }
  return false;
}

// Cleaning, for text pieces and tag texts: every line break (CR LF, a lone CR, a lone LF) and every TAB becomes one
// blank, then codes 0..32 are trimmed from both ends; runs of interior blanks stay. Mapping only bytes that trimming
// would remove anyway means trimming first gives the same result. Returns a view of the input itself when it needs
// no rewriting, otherwise of room(size) for at most size bytes that the caller provides.
template <class Room>
std::string_view Clean(std::string_view raw, const Room& room) {
  std::string_view text = TrimBlanks(raw);
  if (!HasRewritten(text)) return text;
  char* const out = room(text.size());
  size_t length = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (ClassOf(c) & kRewritten) {
      if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
      c = ' ';
    }
    out[length++] = c;
  }
  return std::string_view(out, length);
}

// Escaping, for CDATA content: every line break becomes backslash, "n", blank and every TAB backslash, "t", blank,
// so the value stays on one line. Nothing is trimmed. Rewrites into room(size) as Clean does.
template <class Room>
std::string_view Escape(std::string_view raw, const Room& room) {
  if (!HasRewritten(raw)) return raw;
  const size_t n = raw.size();
  size_t size = 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = raw[i];
    if (c == '\r' && i + 1 < n && raw[i + 1] == '\n') ++i;
    size += (ClassOf(c) & kRewritten) ? 3 : 1;
  }
  char* const out = room(size);
  char* at = out;
  for (size_t i = 0; i < n; ++i) {
    const char c = raw[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < n && raw[i + 1] == '\n') ++i;
      at = std::copy_n("\\n ", 3, at);
    } else if (c == '\t') {
      at = std::copy_n("\\t ", 3, at);
    } else {
      *at++ = c;
    }
  }
  return std::string_view(out, size);
}

// Room for rewritten text: in an arena, where it stays, or in a scratch text reused for the next piece.
struct ArenaRoom {
  TkelXMLArena* arena;
  char* operator()(size_t size) const { return static_cast<char*>(arena->Allocate(size, 1)); }
};
struct ScratchRoom {
  std::string* scratch;
  char* operator()(size_t size) const {
    scratch->resize(size);
    return scratch->data();
  }
};

// The CDATA opener is recognised with the letters in either case.
bool StartsWithCDataOpener(std::string_view text) {
  if (text.size() < kCDataOpener.size()) return false;
  for (size_t i = 0; i < kCDataOpener.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kCDataOpener[i]) return false;
  }
  return true;
}

size_t FindCDataCloser(std::string_view text, size_t from) {
  const char* const s = text.data();
  const size_t n = text.size();
  while (from + kCDataCloser.size() <= n) {
    const char* hit = FindByte(s + from, s + n - 2, ']');
    if (hit == nullptr) break;
    size_t at = static_cast<size_t>(hit - s);
    if (s[at + 1] == ']' && s[at + 2] == '>') return at;
    from = at + 1;
  }
  return std::string_view::npos;
}

// Every line of a document counts as ended by a line break, the last one too, whether or not it was written. An
// unterminated CDATA section takes the rest of the document without that final break, so a feed cut off inside a
// section gives the same value with or without a last line end.
std::string_view WithoutFinalLineBreak(std::string_view text) {
  if (text.ends_with("\r\n")) return text.substr(0, text.size() - 2);
  if (text.ends_with('\r') || text.ends_with('\n')) return text.substr(0, text.size() - 1);
  return text;
}

// ---- Scanner ----

// One pass over the document, handing each piece to the sink with its raw bytes: Text (between two pieces of
// markup, possibly blank), CData, StartTag, EmptyElementTag and EndTag (without its "/"). Classification looks at
// the first and last bytes of a tag text before any cleaning.
//
// Choices where the rules leave one open:
// - "<>" (an empty tag text) is dropped; the scan goes on after its ">".
// - An unterminated CDATA section runs to the end of the document: all of the rest is its content and the scan ends.
template <class Sink>
void Scan(std::string_view text, Sink& sink) {
  const char* const s = text.data();
  const size_t n = text.size();
  size_t p = 0;
  // Once a search for ">" has failed, no ">" follows: every later "<" is dropped without searching again, so a run
  // of "<" costs linear time, not quadratic.
  bool closerAhead = true;
  while (p < n) {
    // A text piece is trimmed anyway, so its leading blanks are skipped on the way to the next "<": a piece that is
    // blank all through, as between indented tags, costs one pass and no call.
    while (p < n && (ClassOf(s[p]) & kBlank)) ++p;
    const char* open = FindByte(s + p, s + n, '<');
    if (open == nullptr) {
      if (p < n) sink.Text(text.substr(p));
      return;
    }
    const size_t q = static_cast<size_t>(open - s);
    if (q > p) sink.Text(text.substr(p, q - p));

    if (StartsWithCDataOpener(text.substr(q))) {
      const size_t start = q + kCDataOpener.size();
      const size_t close = FindCDataCloser(text, start);
      if (close == std::string_view::npos) {
        sink.CData(WithoutFinalLineBreak(text.substr(start)));
        return;
      }
      sink.CData(text.substr(start, close - start));
      p = close + kCDataCloser.size();
      continue;
    }

    const char* end = closerAhead ? FindByte(s + q + 1, s + n, '>') : nullptr;
    if (end == nullptr) {
      // A "<" that no ">" follows is dropped; the text after it is a piece of its own.
      closerAhead = false;
      p = q + 1;
      continue;
    }
    const size_t r = static_cast<size_t>(end - s);
    const std::string_view tag = text.substr(q + 1, r - q - 1);
    if (!tag.empty()) {
      if (tag.front() == '/') {
        sink.EndTag(tag.substr(1));
      } else if (tag.back() == '/') {
        sink.EmptyElementTag(tag);
      } else {
        sink.StartTag(tag);
      }
    }
    p = r + 1;
  }
}

// Writes the token list: a three-character code and the token's body per token.
class TokenRecorder {
 public:
  explicit TokenRecorder(TStringList& lines) : lines_(lines) {}

  void Text(std::string_view raw) {
    std::string_view body = Clean(raw, room_);
    if (!body.empty()) Add("TX:", body);
  }
  void CData(std::string_view raw) { Add("CD:", Escape(raw, room_)); }
  void StartTag(std::string_view raw) { Add("OT:", Clean(raw, room_)); }
  void EmptyElementTag(std::string_view raw) { Add("ET:", Clean(raw, room_)); }
  void EndTag(std::string_view raw) { Add("CT:", Clean(raw, room_)); }

 private:
  void Add(std::string_view code, std::string_view body) {
    std::string token;
    token.reserve(code.size() + body.size());
    token.append(code).append(body);
    lines_.Add(token);
  }

  TStringList& lines_;
  std::string scratch_;
  ScratchRoom room_{&scratch_};
};

// The attribute loop of a tag text, starting at its first blank; the attributes are views of the tag text.
template <class Add>
void ForEachAttribute(std::string_view tag, size_t pos, Add&& add) {
  constexpr auto npos = std::string_view::npos;
  while (pos < tag.size()) {
    const size_t equals = tag.find('=', pos);
    if (equals == npos) return;
    const std::string_view name = TrimBlanks(tag.substr(pos, equals - pos));
    const size_t open = tag.find('"', equals + 1);
    if (open == npos) return;
    const size_t close = tag.find('"', open + 1);
    if (close == npos) return;
    add(name, tag.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
}

}  // namespace

// ---- TkelXMLArena ----

TkelXMLArena::~TkelXMLArena() {
  Release();
  if (blocks_ != reinterpret_cast<Block*>(firstRoom_)) std::free(blocks_);
}

void* TkelXMLArena::NewBlock(size_t bytes, size_t alignment) {
  const size_t grown = blocks_ != nullptr ? std::min(blocks_->size * 2, kLargestBlock) : kFirstBlock;
  const size_t size = std::max(grown, bytes + alignment);
  auto* block = static_cast<Block*>(std::malloc(sizeof(Block) + size));
  if (block == nullptr) throw std::bad_alloc();
  *block = Block{blocks_, size};
  blocks_ = block;
  const uintptr_t at = Aligned(reinterpret_cast<uintptr_t>(block->Bytes()), alignment);
  next_ = reinterpret_cast<char*>(at + bytes);
  return reinterpret_cast<void*>(at);
}

void TkelXMLArena::Reserve(size_t bytes) {
  bytes = std::min(bytes, kLargestBlock);
  if (blocks_ == nullptr || static_cast<size_t>(blocks_->Bytes() + blocks_->size - next_) < bytes) {
    // Taken and given back at once: it stays as the newest block, now large enough.
    NewBlock(bytes, 1);
    next_ = blocks_->Bytes();
  }
}

void TkelXMLArena::Release() noexcept {
  if (blocks_ == nullptr) return;
  for (Block* older = blocks_->older; older != nullptr;) {
    Block* next = older->older;
    if (older != reinterpret_cast<Block*>(firstRoom_)) std::free(older);
    older = next;
  }
  blocks_->older = nullptr;
  next_ = blocks_->Bytes();
}

// Builds the tree below the root. Texts that need no rewriting are views of the tree's document; rewritten ones are
// written straight into the arena.
class TkelXMLTreeBuilder {
 public:
  explicit TkelXMLTreeBuilder(TkelXMLNode& root)
      : root_(root), current_(&root), room_{root.arena_} {}

  void Text(std::string_view raw) {
    std::string_view body = Clean(raw, room_);
    if (body.empty()) return;
    current_->value_ = body;
    current_->isCDATA_ = false;
  }
  void CData(std::string_view raw) {
    current_->value_ = Escape(raw, room_);
    current_->isCDATA_ = true;
  }
  void StartTag(std::string_view raw) { current_ = current_->NewChild(Clean(raw, room_), {}); }
  void EmptyElementTag(std::string_view raw) { current_->NewChild(Clean(raw, room_), {}); }
  // End-tag names are not compared with anything. An end tag while the root is current has nothing to close: the
  // root stays current, so no later piece reaches past the tree (not even into a node the root was created under).
  void EndTag(std::string_view /*raw*/) {
    if (current_ != &root_) current_ = current_->parent_;
  }

 private:
  TkelXMLNode& root_;
  TkelXMLNode* current_;
  ArenaRoom room_;
};


// ---- TkelXMLNode ----

TkelXMLNode::TkelXMLNode(std::string_view name, std::string_view value, TkelXMLNode* parent)
    : arena_(new TkelXMLArena), parent_(parent), ownsArena_(true) {
  name_ = Keep(name);
  value_ = Keep(value);
}

TkelXMLNode::TkelXMLNode(TkelXMLArena* arena, TkelXMLNode* parent) : arena_(arena), parent_(parent), ownsArena_(false) {}

TkelXMLNode::TkelXMLNode(TInArena, std::string_view name, std::string_view value, TkelXMLNode* parent,
                         TkelXMLArena* arena)
    : arena_(arena), name_(name), value_(value), parent_(parent), ownsArena_(false) {}

TkelXMLNode::~TkelXMLNode() {
  if (ownsArena_) delete arena_;
}

std::string_view TkelXMLNode::Keep(std::string_view text) {
  if (text.empty()) return {};
  char* copy = ArenaRoom{arena_}(text.size());
  std::memcpy(copy, text.data(), text.size());
  return std::string_view(copy, text.size());
}

template <class T>
void TkelXMLNode::Append(TArenaList<T>& list, const T& item) {
  if (list.count == list.capacity) {
    // Feed items have three or four children: room for four at the first one, then twice as much each time.
    const uint32_t capacity = list.capacity == 0 ? 4 : list.capacity * 2;
    T* items = static_cast<T*>(arena_->Allocate(sizeof(T) * capacity, alignof(T)));
    for (uint32_t i = 0; i < list.count; ++i) new (items + i) T(list.items[i]);
    list.items = items;
    list.capacity = capacity;
  }
  new (list.items + list.count) T(item);
  ++list.count;
}

TkelXMLNode* TkelXMLNode::NewChild(std::string_view tagText, std::string_view value) {
  const size_t blank = tagText.find(' ');
  void* place = arena_->Allocate(sizeof(TkelXMLNode), alignof(TkelXMLNode));
  auto* child = new (place) TkelXMLNode(TInArena{}, tagText.substr(0, blank), value, this, arena_);
  Append(children_, child);
  if (blank != std::string_view::npos) {
    ForEachAttribute(tagText, blank, [child](std::string_view name, std::string_view text) {
      child->Append(child->attributes_, TkelXMLAttribute(name, text));
    });
  }
  return child;
}

TkelXMLNode* TkelXMLNode::AddChild(std::string_view tagText, std::string_view value) {
  return NewChild(Keep(tagText), Keep(value));
}

void TkelXMLNode::AddAttribute(std::string_view name, std::string_view value) {
  Append(attributes_, TkelXMLAttribute(Keep(name), Keep(value)));
}

void TkelXMLNode::ClearChildren() { children_.count = 0; }

void TkelXMLNode::ClearAttributes() { attributes_.count = 0; }

void TkelXMLNode::ReleaseArena() {
  children_ = {};
  attributes_ = {};
  name_ = {};
  value_ = {};
  arena_->Release();
}

void TkelXMLNode::FindNodes(std::string_view name, TList<TkelXMLNode>& list) const {
  // Pre-order with an explicit stack of (node, next child to visit): a feed can nest as deep as it likes.
  struct Frame {
    const TkelXMLNode* node;
    uint32_t next;
  };
  std::vector<Frame> stack;
  stack.push_back({this, 0});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.node->children_.count) {
      stack.pop_back();
      continue;
    }
    TkelXMLNode* child = top.node->children_.items[top.next++];
    if (child->name_ == name) list.Add(child);
    if (child->children_.count != 0) stack.push_back({child, 0});  // `top` may dangle from here on
  }
}

TkelXMLNode* TkelXMLNode::ChildByName(std::string_view name) const {
  for (TkelXMLNode* child : children_) {
    if (child->name_ == name) return child;
  }
  return nullptr;
}

// ---- TkelXMLTree ----

TkelXMLTree::TkelXMLTree(std::string_view name, std::string_view value, TkelXMLNode* parent)
    : TkelXMLNode(&arena_, parent) {
  SetName(name);
  SetValue(value);
}

template <class Fill>
void TkelXMLTree::Load(size_t expected, Fill fill) {
  // Everything of the last load goes; the root's value stays, so it is carried over.
  const std::string rootValue(Value());
  lines_.reset();
  ReleaseArena();

  // The document goes into the arena too, with room behind it for what a feed of its size makes (nodes, lists and
  // rewritten texts take about three times the bytes of the markup), so a load mostly takes one block.
  arena_.Reserve(expected * 4 + 1024);
  const std::string_view document = fill(static_cast<char*>(arena_.Allocate(expected, 1)));
  // A NUL byte ends the document.
  document_ = document.substr(0, document.find('\0'));

  SetName("root");
  SetValue(rootValue);
  TkelXMLTreeBuilder builder(*this);
  Scan(document_, builder);
}

void TkelXMLTree::LoadFromStream(TStream& stream) {
  const int64_t expected = std::max<int64_t>(stream.Size() - stream.Position(), 0);
  Load(static_cast<size_t>(expected), [this, &stream, expected](char* bytes) {
    size_t size = static_cast<size_t>(std::max<int64_t>(stream.Read(bytes, expected), 0));
    // A stream that had more than it said: the rest is read on until the stream reports its end.
    char chunk[4096];
    std::string more;
    for (int64_t got; (got = stream.Read(chunk, sizeof chunk)) > 0;) more.append(chunk, static_cast<size_t>(got));
    if (!more.empty()) {
      char* whole = static_cast<char*>(arena_.Allocate(size + more.size(), 1));
      std::memcpy(whole, bytes, size);
      std::memcpy(whole + size, more.data(), more.size());
      bytes = whole;
      size += more.size();
    }
    return std::string_view(bytes, size);
  });
}

void TkelXMLTree::LoadFromText(std::string_view text) {
  Load(text.size(), [text](char* bytes) {
    if (!text.empty()) std::memcpy(bytes, text.data(), text.size());
    return std::string_view(bytes, text.size());
  });
}

const TStringList& TkelXMLTree::Lines() const {
  if (!lines_) {
    auto lines = std::make_unique<TStringList>();
    TokenRecorder recorder(*lines);
    Scan(document_, recorder);
    lines_ = std::move(lines);
  }
  return *lines_;
}
