// A forgiving, single-pass XML reader that turns a document into a tree of named nodes with text values and
// attributes. It never rejects input and does not validate: it decodes no entity or character reference, ignores the
// names in end tags, and opens an element for every processing instruction, comment and declaration (none of them is
// ever closed by its own end tag). Feed processing loads one tree per feed, looks nodes up by name and drops it.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Classes.h"

// An attribute of a node; its texts are kept by the node's tree.
class TkelXMLAttribute : public TObject {
 public:
  TkelXMLAttribute(std::string_view name, std::string_view value) : name_(name), value_(value) {}

  std::string_view Name() const { return name_; }
  std::string_view Value() const { return value_; }

 private:
  std::string_view name_;
  std::string_view value_;
};

// Where a node keeps everything made below it (nodes, lists, texts): memory handed out from blocks in order and given
// back all at once. Blocks double in size; a release keeps the newest (largest) one, so a tree that is loaded again
// and again allocates nothing once it has room for its documents. It may start in room that its owner provides.
class TkelXMLArena {
 public:
  TkelXMLArena() = default;
  TkelXMLArena(void* firstRoom, size_t size) : firstRoom_(firstRoom) {
    blocks_ = static_cast<Block*>(firstRoom);
    *blocks_ = Block{nullptr, size - sizeof(Block)};
    next_ = blocks_->Bytes();
  }
  TkelXMLArena(const TkelXMLArena&) = delete;
  TkelXMLArena& operator=(const TkelXMLArena&) = delete;
  ~TkelXMLArena();

  void* Allocate(size_t bytes, size_t alignment) {
    const uintptr_t at = Aligned(reinterpret_cast<uintptr_t>(next_), alignment);
    if (blocks_ == nullptr || at + bytes > reinterpret_cast<uintptr_t>(blocks_->Bytes() + blocks_->size)) {
      return NewBlock(bytes, alignment);
    }
    next_ = reinterpret_cast<char*>(at + bytes);
    return reinterpret_cast<void*>(at);
  }
  // Makes sure that the next bytes (up to the largest block) come from one block.
  void Reserve(size_t bytes);
  // Gives everything back; only the newest block stays, empty.
  void Release() noexcept;

 private:
  struct alignas(16) Block {
    Block* older;
    size_t size;  // bytes after the header
    char* Bytes() { return reinterpret_cast<char*>(this + 1); }
  };
  static constexpr size_t kFirstBlock = 16384;
  // Blocks stop doubling here (a single larger request still gets a block of its own), so that what a very large
  // document makes the arena take ahead of its need stays bounded.
  static constexpr size_t kLargestBlock = size_t{16} << 20;

  static uintptr_t Aligned(uintptr_t at, size_t alignment) { return (at + alignment - 1) & ~(uintptr_t{alignment} - 1); }
  void* NewBlock(size_t bytes, size_t alignment);

  void* firstRoom_ = nullptr;  // not owned
  Block* blocks_ = nullptr;    // the newest; each points to the one before it
  char* next_ = nullptr;       // the first free byte of the newest block
};

class TkelXMLNode : public TObject {
 public:
  // A node with that name and value and no children or attributes. It keeps everything made below it (nodes,
  // attributes, texts) in one arena of its own, released with it; the parent is recorded only. A load makes
  // thousands of small nodes and drops them together, so they are not made and freed one by one.
  TkelXMLNode(std::string_view name, std::string_view value, TkelXMLNode* parent);
  ~TkelXMLNode() override;
  TkelXMLNode(const TkelXMLNode&) = delete;
  TkelXMLNode& operator=(const TkelXMLNode&) = delete;

  // Texts are views of the node's tree: valid until the tree's next load, its end, or the next change of the text.
  std::string_view Name() const { return name_; }
  void SetName(std::string_view name) { name_ = Keep(name); }
  // The last text or CDATA piece met while this node was the current node of a load.
  std::string_view Value() const { return value_; }
  void SetValue(std::string_view value) { value_ = Keep(value); }
  // True when Value was last set from a CDATA section.
  bool IsCDATA() const { return isCDATA_; }
  TkelXMLNode* Parent() const { return parent_; }

  int ChildCount() const { return static_cast<int>(children_.count); }
  TkelXMLNode* Children(int index) const { return children_.At(index); }
  int AttributeCount() const { return static_cast<int>(attributes_.count); }
  const TkelXMLAttribute* Attributes(int index) const { return &attributes_.At(index); }

  // Appends a child made from a tag text: its name is the text up to the first blank (the whole text when there is
  // none, so "br/" stays "br/"), and every name="value" pair after that blank becomes an attribute. Only double
  // quotes delimit a value; whatever stands between "=" and the opening quote is skipped.
  TkelXMLNode* AddChild(std::string_view tagText, std::string_view value);
  void AddAttribute(std::string_view name, std::string_view value);
  // Empty the lists. What the removed entries took is given back with the rest of the arena (at the tree's next
  // load, or when the node that owns the arena goes), so this never walks a subtree, however deep.
  void ClearChildren();
  void ClearAttributes();

  // Appends every descendant whose name equals `name` byte for byte, in document order (a node before the nodes
  // nested in it). This node itself is not tested and the list is not cleared first.
  void FindNodes(std::string_view name, TList<TkelXMLNode>& list) const;
  // The first direct child named exactly `name`, or nullptr.
  TkelXMLNode* ChildByName(std::string_view name) const;

 protected:
  // A root in an arena that the derived class provides; it sets the texts once the arena exists.
  TkelXMLNode(TkelXMLArena* arena, TkelXMLNode* parent);
  // Gives back everything the arena holds: every node below this one, every attribute and every text, this node's
  // own name and value included.
  void ReleaseArena();
  // A copy of the text in the arena.
  std::string_view Keep(std::string_view text);

 private:
  friend class TkelXMLTreeBuilder;

  // A list whose room is in the arena: it grows by taking new room there and leaving the old, which goes back with
  // the rest of the arena.
  template <class T>
  struct TArenaList {
    T* items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    T& At(int index) const {
      if (index < 0 || static_cast<uint32_t>(index) >= count) throw std::out_of_range("TkelXMLNode list index");
      return items[index];
    }
    T* begin() const { return items; }
    T* end() const { return items + count; }
  };
  template <class T>
  void Append(TArenaList<T>& list, const T& item);

  struct TInArena {};
  // A node made by AddChild: in the arena of the node that owns it, with texts that already live as long.
  TkelXMLNode(TInArena, std::string_view name, std::string_view value, TkelXMLNode* parent, TkelXMLArena* arena);
  // Appends a child from a tag text and a value that live as long as the arena.
  TkelXMLNode* NewChild(std::string_view tagText, std::string_view value);

  // Where everything below this node lives: its own arena for a node made by the public constructor, its owner's
  // for one made by AddChild. Nodes made in an arena are never destroyed one by one: the arena gives their memory
  // back all at once, and nothing they hold needs more.
  TkelXMLArena* arena_;
  std::string_view name_;
  std::string_view value_;
  TArenaList<TkelXMLNode*> children_;
  TArenaList<TkelXMLAttribute> attributes_;
  TkelXMLNode* parent_;
  bool isCDATA_ = false;
  bool ownsArena_;
};

// The tree is itself the root node.
class TkelXMLTree : public TkelXMLNode {
 public:
  TkelXMLTree(std::string_view name, std::string_view value, TkelXMLNode* parent);

  // Replaces the tree's children and attributes by the document read from the stream's position to its end (up to
  // the first NUL byte) and renames the root "root". The root's value changes only when text stands outside every
  // element. Accepts every input.
  void LoadFromStream(TStream& stream);
  // The same with the document given as a text, which the tree copies once. Not one of the tree's own texts: the
  // load gives those back before it copies.
  void LoadFromText(std::string_view text);

  // The token list of the last load, one text per token: a three-character code ("OT:" start tag, "CT:" end tag,
  // "ET:" empty-element tag, "TX:" text, "CD:" CDATA section) and the token's body. It is made on first request from
  // the document the tree keeps, so a load that nobody inspects does not pay for it.
  const TStringList& Lines() const;

 private:
  // Replaces the tree by the document that fill writes into room for expected bytes (or puts elsewhere in the
  // arena) and returns.
  template <class Fill>
  void Load(size_t expected, Fill fill);

  // A small document fits in the tree itself: loading it takes no memory from the system.
  alignas(16) char firstRoom_[8192];
  TkelXMLArena arena_{firstRoom_, sizeof firstRoom_};
  std::string_view document_;  // the loaded bytes in the arena, cut at the first NUL; most texts are views of it
  mutable std::unique_ptr<TStringList> lines_;
};
