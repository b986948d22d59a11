#include "xml/kelXMLTree.h"

#include <algorithm>
#include <array>
#include <cstdint>
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
// no rewriting, otherwise of `scratch`.
std::string_view Clean(std::string_view raw, std::string& scratch) {
  std::string_view text = TrimBlanks(raw);
  if (!HasRewritten(text)) return text;
  scratch.clear();
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (ClassOf(c) & kRewritten) {
      if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
      c = ' ';
    }
    scratch.push_back(c);
  }
  return scratch;
}

// Escaping, for CDATA content: every line break becomes backslash, "n", blank and every TAB backslash, "t", blank,
// so the value stays on one line. Nothing is trimmed.
std::string_view Escape(std::string_view raw, std::string& scratch) {
  if (!HasRewritten(raw)) return raw;
  scratch.clear();
  const size_t n = raw.size();
  for (size_t i = 0; i < n; ++i) {
    char c = raw[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < n && raw[i + 1] == '\n') ++i;
      scratch.append("\\n ");
    } else if (c == '\t') {
      scratch.append("\\t ");
    } else {
      scratch.push_back(c);
    }
  }
  return scratch;
}

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

// Builds the tree below the root.
class TreeBuilder {
 public:
  explicit TreeBuilder(TkelXMLNode& root) : root_(root), current_(&root) {}

  void Text(std::string_view raw) {
    std::string_view body = Clean(raw, scratch_);
    if (body.empty()) return;
    current_->SetValue(body);
    current_->SetIsCDATA(false);
  }
  void CData(std::string_view raw) {
    current_->SetValue(Escape(raw, scratch_));
    current_->SetIsCDATA(true);
  }
  void StartTag(std::string_view raw) { current_ = current_->AddChild(Clean(raw, scratch_), {}); }
  void EmptyElementTag(std::string_view raw) { current_->AddChild(Clean(raw, scratch_), {}); }
  // End-tag names are not compared with anything. An end tag while the root is current has nothing to close: the
  // root stays current, so no later piece reaches past the tree (not even into a node the root was created under).
  void EndTag(std::string_view /*raw*/) {
    if (current_ != &root_) current_ = current_->Parent();
  }

 private:
  TkelXMLNode& root_;
  TkelXMLNode* current_;
  std::string scratch_;
};

// Writes the token list: a three-character code and the token's body per token.
class TokenRecorder {
 public:
  explicit TokenRecorder(TStringList& lines) : lines_(lines) {}

  void Text(std::string_view raw) {
    std::string_view body = Clean(raw, scratch_);
    if (!body.empty()) Add("TX:", body);
  }
  void CData(std::string_view raw) { Add("CD:", Escape(raw, scratch_)); }
  void StartTag(std::string_view raw) { Add("OT:", Clean(raw, scratch_)); }
  void EmptyElementTag(std::string_view raw) { Add("ET:", Clean(raw, scratch_)); }
  void EndTag(std::string_view raw) { Add("CT:", Clean(raw, scratch_)); }

 private:
  void Add(std::string_view code, std::string_view body) {
    std::string token;
    token.reserve(code.size() + body.size());
    token.append(code).append(body);
    lines_.Add(token);
  }

  TStringList& lines_;
  std::string scratch_;
};

// The attribute loop of a tag text, starting at its first blank.
void AddAttributesFromTag(TkelXMLNode& node, std::string_view tag, size_t pos) {
  constexpr auto npos = std::string_view::npos;
  while (pos < tag.size()) {
    const size_t equals = tag.find('=', pos);
    if (equals == npos) return;
    const std::string_view name = TrimBlanks(tag.substr(pos, equals - pos));
    const size_t open = tag.find('"', equals + 1);
    if (open == npos) return;
    const size_t close = tag.find('"', open + 1);
    if (close == npos) return;
    node.AddAttribute(std::string(name), std::string(tag.substr(open + 1, close - open - 1)));
    pos = close + 1;
  }
}

}  // namespace

// ---- TkelXMLNodePool ----

// Node-sized slots in slabs, reused through a free list. A feed is thousands of small nodes made and dropped
// together; taking them from a few slabs instead of one heap block each is most of what loading costs otherwise.
class TkelXMLNodePool {
 public:
  TkelXMLNodePool() = default;
  TkelXMLNodePool(const TkelXMLNodePool&) = delete;
  TkelXMLNodePool& operator=(const TkelXMLNodePool&) = delete;

  void* Allocate() {
    if (free_ != nullptr) {
      Slot* slot = free_;
      free_ = slot->next;
      return slot->storage;
    }
    if (unused_ == unusedEnd_) Grow();
    return (unused_++)->storage;
  }
  void Release(void* storage) noexcept {
    Slot* slot = reinterpret_cast<Slot*>(storage);
    slot->next = free_;
    free_ = slot;
  }

 private:
  union Slot {
    Slot* next;
    alignas(TkelXMLNode) unsigned char storage[sizeof(TkelXMLNode)];
  };
  static constexpr size_t kFirstSlab = 256;
  static constexpr size_t kLargestSlab = 16384;

  // Slabs double up to a limit, so a usual feed takes one slab and a huge one not too many. Slots are handed out
  // from the newest slab in order; released ones go to the free list and are taken first.
  void Grow() {
    slabSize_ = slabs_.empty() ? kFirstSlab : std::min(kLargestSlab, slabSize_ * 2);
    slabs_.push_back(std::make_unique_for_overwrite<Slot[]>(slabSize_));
    unused_ = slabs_.back().get();
    unusedEnd_ = unused_ + slabSize_;
  }

  std::vector<std::unique_ptr<Slot[]>> slabs_;
  size_t slabSize_ = 0;
  Slot* unused_ = nullptr;  // the newest slab's slots never handed out: [unused_, unusedEnd_)
  Slot* unusedEnd_ = nullptr;
  Slot* free_ = nullptr;
};

void TkelXMLNodeDeleter::operator()(TkelXMLNode* node) const noexcept {
  // A pooled node is always a plain TkelXMLNode made by AddChild, which gives it the pool it came from.
  if (TkelXMLNodePool* pool = node->pool_) {
    node->~TkelXMLNode();
    pool->Release(node);
  } else {
    delete node;
  }
}

// ---- TkelXMLNode ----

TkelXMLNode::TkelXMLNode(std::string name, std::string value, TkelXMLNode* parent)
    : name_(std::move(name)), value_(std::move(value)), parent_(parent) {}

TkelXMLNode::~TkelXMLNode() { ClearChildren(); }

TkelXMLNode* TkelXMLNode::AddChild(std::string_view tagText, std::string_view value) {
  const size_t blank = tagText.find(' ');
  // Room first, so nothing below can fail between making the node and handing it to its owner. Feed items have
  // three or four children: one allocation instead of three for the usual element.
  if (children_.size() == children_.capacity()) children_.reserve(std::max<size_t>(4, children_.capacity() * 2));
  std::string name(tagText.substr(0, blank));
  std::string text(value);
  TkelXMLNode* child = pool_ != nullptr ? new (pool_->Allocate()) TkelXMLNode(std::move(name), std::move(text), this)
                                        : new TkelXMLNode(std::move(name), std::move(text), this);
  child->pool_ = pool_;
  children_.emplace_back(child);
  if (blank != std::string_view::npos) AddAttributesFromTag(*child, tagText, blank);
  return child;
}

void TkelXMLNode::AddAttribute(std::string name, std::string value) {
  attributes_.push_back(std::make_unique<TkelXMLAttribute>(std::move(name), std::move(value)));
}

void TkelXMLNode::ClearChildren() {
  // Depth-first without recursion or extra memory: walk down to a leaf along last children, destroy it (it owns
  // nothing more, so its destructor does no work of this kind), step back to its parent and repeat. Every node in a
  // list was put there by AddChild on the list's owner, so its parent is that owner.
  TkelXMLNode* node = this;
  for (;;) {
    if (!node->children_.empty()) {
      node = node->children_.back().get();
      continue;
    }
    if (node == this) break;
    TkelXMLNode* parent = node->parent_;
    parent->children_.pop_back();
    node = parent;
  }
}

void TkelXMLNode::ClearAttributes() { attributes_.clear(); }

void TkelXMLNode::FindNodes(std::string_view name, TList<TkelXMLNode>& list) const {
  // Pre-order with an explicit stack of (node, next child to visit): a feed can nest as deep as it likes.
  struct Frame {
    const TkelXMLNode* node;
    size_t next;
  };
  std::vector<Frame> stack;
  stack.push_back({this, 0});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.node->children_.size()) {
      stack.pop_back();
      continue;
    }
    TkelXMLNode* child = top.node->children_[top.next++].get();
    if (child->name_ == name) list.Add(child);
    if (!child->children_.empty()) stack.push_back({child, 0});  // `top` may dangle from here on
  }
}

TkelXMLNode* TkelXMLNode::ChildByName(std::string_view name) const {
  for (const auto& child : children_) {
    if (child->name_ == name) return child.get();
  }
  return nullptr;
}

// ---- TkelXMLTree ----

TkelXMLTree::TkelXMLTree(std::string name, std::string value, TkelXMLNode* parent)
    : TkelXMLNode(std::move(name), std::move(value), parent), pool_(std::make_unique<TkelXMLNodePool>()) {
  UsePool(pool_.get());
}

// The nodes live in the pool: they go before it does.
TkelXMLTree::~TkelXMLTree() { ClearChildren(); }

void TkelXMLTree::LoadFromStream(TStream& stream) {
  ClearChildren();
  ClearAttributes();
  lines_.reset();
  document_.clear();

  // Read from the position to the end: the expected size in one go, then on until the stream reports its end (a
  // stream may not know its size in advance).
  const int64_t expected = stream.Size() - stream.Position();
  if (expected > 0) {
    document_.resize(static_cast<size_t>(expected));
    document_.resize(static_cast<size_t>(std::max<int64_t>(stream.Read(document_.data(), expected), 0)));
  }
  char chunk[4096];
  for (int64_t got; (got = stream.Read(chunk, sizeof chunk)) > 0;) document_.append(chunk, static_cast<size_t>(got));
  // A NUL byte ends the document.
  if (const void* nul = std::memchr(document_.data(), '\0', document_.size())) {
    document_.resize(static_cast<size_t>(static_cast<const char*>(nul) - document_.data()));
  }

  SetName("root");
  TreeBuilder builder(*this);
  Scan(document_, builder);
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
