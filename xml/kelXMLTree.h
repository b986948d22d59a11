// A forgiving, single-pass XML reader that turns a document into a tree of named nodes with text values and
// attributes. It never rejects input and does not validate: it decodes no entity or character reference, ignores the
// names in end tags, and opens an element for every processing instruction, comment and declaration (none of them is
// ever closed by its own end tag). Feed processing loads one tree per feed, looks nodes up by name and drops it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Classes.h"

class TkelXMLAttribute : public TObject {
 public:
  TkelXMLAttribute(std::string name, std::string value) : name_(std::move(name)), value_(std::move(value)) {}

  const std::string& Name() const { return name_; }
  const std::string& Value() const { return value_; }

 private:
  std::string name_;
  std::string value_;
};

class TkelXMLNode;
class TkelXMLNodePool;

// Releases a child node: back to its tree's pool when it came from one, to the heap otherwise.
struct TkelXMLNodeDeleter {
  void operator()(TkelXMLNode* node) const noexcept;
};

class TkelXMLNode : public TObject {
 public:
  // A node with that name and value and no children or attributes. The parent is recorded only; it is AddChild that
  // puts a node into its parent's list.
  TkelXMLNode(std::string name, std::string value, TkelXMLNode* parent);
  // Destroys the whole subtree. Hostile documents nest a million levels deep, so this never recurses.
  ~TkelXMLNode() override;
  TkelXMLNode(const TkelXMLNode&) = delete;
  TkelXMLNode& operator=(const TkelXMLNode&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string_view name) { name_.assign(name); }
  // The last text or CDATA piece met while this node was the current node of a load.
  const std::string& Value() const { return value_; }
  void SetValue(std::string_view value) { value_.assign(value); }
  // True when Value was last set from a CDATA section.
  bool IsCDATA() const { return isCDATA_; }
  void SetIsCDATA(bool isCDATA) { isCDATA_ = isCDATA; }
  TkelXMLNode* Parent() const { return parent_; }

  int ChildCount() const { return static_cast<int>(children_.size()); }
  TkelXMLNode* Children(int index) const { return children_.at(static_cast<size_t>(index)).get(); }
  int AttributeCount() const { return static_cast<int>(attributes_.size()); }
  TkelXMLAttribute* Attributes(int index) const { return attributes_.at(static_cast<size_t>(index)).get(); }

  // Appends a child made from a tag text: its name is the text up to the first blank (the whole text when there is
  // none, so "br/" stays "br/"), and every name="value" pair after that blank becomes an attribute. Only double
  // quotes delimit a value; whatever stands between "=" and the opening quote is skipped.
  TkelXMLNode* AddChild(std::string_view tagText, std::string_view value);
  void AddAttribute(std::string name, std::string value);
  // Destroy every child (with its subtree) or every attribute.
  void ClearChildren();
  void ClearAttributes();

  // Appends every descendant whose name equals `name` byte for byte, in document order (a node before the nodes
  // nested in it). This node itself is not tested and the list is not cleared first.
  void FindNodes(std::string_view name, TList<TkelXMLNode>& list) const;
  // The first direct child named exactly `name`, or nullptr.
  TkelXMLNode* ChildByName(std::string_view name) const;

 protected:
  // Children made from now on come from this pool; a tree points its root at its own.
  void UsePool(TkelXMLNodePool* pool) { pool_ = pool; }

 private:
  friend struct TkelXMLNodeDeleter;

  std::string name_;
  std::string value_;
  std::vector<std::unique_ptr<TkelXMLNode, TkelXMLNodeDeleter>> children_;
  std::vector<std::unique_ptr<TkelXMLAttribute>> attributes_;
  TkelXMLNode* parent_;
  TkelXMLNodePool* pool_ = nullptr;  // where this node's children are made; not owned
  bool isCDATA_ = false;
};

// The tree is itself the root node.
class TkelXMLTree : public TkelXMLNode {
 public:
  TkelXMLTree(std::string name, std::string value, TkelXMLNode* parent);
  ~TkelXMLTree() override;

  // Replaces the tree's children and attributes by the document read from the stream's position to its end (up to
  // the first NUL byte) and renames the root "root". The root's value changes only when text stands outside every
  // element. Accepts every input.
  void LoadFromStream(TStream& stream);

  // The token list of the last load, one text per token: a three-character code ("OT:" start tag, "CT:" end tag,
  // "ET:" empty-element tag, "TX:" text, "CD:" CDATA section) and the token's body. It is made on first request from
  // the document the tree keeps, so a load that nobody inspects does not pay for it.
  const TStringList& Lines() const;

 private:
  // Declared first so it is destroyed last; the destructor empties the tree before any member goes.
  std::unique_ptr<TkelXMLNodePool> pool_;
  std::string document_;  // the loaded bytes, line breaks as read, cut at the first NUL
  mutable std::unique_ptr<TStringList> lines_;
};
