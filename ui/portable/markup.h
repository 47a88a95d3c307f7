// The layout document reader: a small XML subset (elements, double-quoted attributes, five
// entities, comments and processing instructions skipped), read whole into a node table.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace DuiLib {

class CMarkup;

// A view of one element of a loaded CMarkup. Invalid (default) nodes answer empty values.
class CMarkupNode {
 public:
  CMarkupNode() = default;

  bool IsValid() const { return owner_ != nullptr; }
  CMarkupNode GetParent() const;
  CMarkupNode GetSibling() const;
  CMarkupNode GetChild() const;
  CMarkupNode GetChild(std::wstring_view name) const;  // first child of that exact name
  bool HasSiblings() const;
  bool HasChildren() const;

  const std::wstring& GetName() const;
  const std::wstring& GetValue() const;

  bool HasAttributes() const { return GetAttributeCount() > 0; }
  bool HasAttribute(std::wstring_view name) const;
  int GetAttributeCount() const;
  const std::wstring& GetAttributeName(int index) const;
  const std::wstring& GetAttributeValue(int index) const;
  // Empty when the attribute is missing.
  const std::wstring& GetAttributeValue(std::wstring_view name) const;
  bool GetAttributeValue(std::wstring_view name, std::wstring* value) const;

 private:
  friend class CMarkup;
  CMarkupNode(const CMarkup* owner, std::size_t index) : owner_(owner), index_(index) {}

  const CMarkup* owner_ = nullptr;
  std::size_t index_ = 0;
};

class CMarkup {
 public:
  // Documents above this size are refused ("File too large").
  static constexpr std::size_t kMaxBytes = 4194304;

  CMarkup() = default;
  explicit CMarkup(std::wstring_view text) { Load(text); }

  // Parses text (already UTF-16). Returns false and leaves the document empty on error.
  bool Load(std::wstring_view text);
  // Parses UTF-8 bytes (a leading BOM is skipped), refusing empty and too-large input.
  bool LoadFromMem(const void* data, std::size_t size);
  // Reads the file whole (Windows only): resource directory lookup is the caller's business.
  bool LoadFromFile(const std::wstring& path);
  void Release();

  bool IsValid() const { return !nodes_.empty(); }
  CMarkupNode GetRoot() const;

  // The last error (at most 99 characters) and up to 49 characters of text where it happened.
  const std::wstring& GetLastErrorMessage() const { return errorMessage_; }
  const std::wstring& GetLastErrorLocation() const { return errorLocation_; }

 private:
  friend class CMarkupNode;
  struct Node {
    std::wstring name;
    std::wstring value;
    std::size_t parent = npos;
    std::size_t firstChild = npos;
    std::size_t lastChild = npos;
    std::size_t nextSibling = npos;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
  };
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  class Parser;
  bool Fail(const wchar_t* message, std::wstring_view text, std::size_t pos);

  std::vector<Node> nodes_;
  std::wstring errorMessage_;
  std::wstring errorLocation_;
};

}  // namespace DuiLib
