#include "ui/portable/markup.h"

#include "common/portable/text.h"

namespace DuiLib {
namespace {

const std::wstring kEmpty;

bool IsSpace(wchar_t c) { return static_cast<unsigned>(c) <= 32; }

bool IsNameChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
         c == L':';
}

// Decodes the five predefined entities; any other "&" stands for itself.
void AppendDecoded(std::wstring& out, std::wstring_view raw) {
  static constexpr struct {
    std::wstring_view entity;
    wchar_t ch;
  } kEntities[] = {{L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&apos;", L'\''}};
  out.reserve(out.size() + raw.size());
  for (std::size_t i = 0; i < raw.size();) {
    if (raw[i] == L'&') {
      bool decoded = false;
      for (const auto& e : kEntities) {
        if (raw.substr(i, e.entity.size()) == e.entity) {
          out.push_back(e.ch);
          i += e.entity.size();
          decoded = true;
          break;
        }
      }
      if (decoded) continue;
    }
    out.push_back(raw[i++]);
  }
}

}  // namespace

// Recursive-descent reader over the whole text. Depth is bounded so hostile input cannot
// exhaust the stack.
class CMarkup::Parser {
 public:
  Parser(CMarkup& owner, std::wstring_view text) : owner_(owner), text_(text) {}

  bool Run() {
    SkipSpaceAndMarkupDeclarations();
    if (!At(L'<')) return owner_.Fail(L"Expected start tag", text_, pos_);
    return ParseElement(npos, 0);
  }

 private:
  static constexpr int kMaxDepth = 256;

  bool At(wchar_t c) const { return pos_ < text_.size() && text_[pos_] == c; }
  bool AtString(std::wstring_view s) const { return text_.substr(pos_, s.size()) == s; }
  void SkipSpace() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  }
  void SkipPast(std::wstring_view terminator) {
    const std::size_t found = text_.find(terminator, pos_);
    pos_ = found == std::wstring_view::npos ? text_.size() : found + terminator.size();
  }
  // "<?...?>" and "<!...->" are dropped wherever a tag may start.
  void SkipSpaceAndMarkupDeclarations() {
    for (;;) {
      SkipSpace();
      if (AtString(L"<?")) {
        SkipPast(L"?>");
      } else if (AtString(L"<!")) {
        SkipPast(L"->");
      } else {
        return;
      }
    }
  }
  std::wstring_view ReadName() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  bool ParseElement(std::size_t parent, int depth) {
    if (depth > kMaxDepth) return owner_.Fail(L"Error parsing element name", text_, pos_);
    ++pos_;  // '<'
    const std::wstring_view name = ReadName();
    if (name.empty()) return owner_.Fail(L"Error parsing element name", text_, pos_);

    const std::size_t self = owner_.nodes_.size();
    owner_.nodes_.emplace_back();
    {
      Node& node = owner_.nodes_.back();
      node.name.assign(name);
      node.parent = parent;
    }
    if (parent != npos) {
      Node& p = owner_.nodes_[parent];
      if (p.lastChild == npos) {
        p.firstChild = self;
      } else {
        owner_.nodes_[p.lastChild].nextSibling = self;
      }
      p.lastChild = self;
    }

    if (!ParseAttributes(self)) return false;
    SkipSpace();
    if (AtString(L"/>")) {
      pos_ += 2;
      return true;
    }
    if (!At(L'>')) return owner_.Fail(L"Expected start-tag closing", text_, pos_);
    ++pos_;

    bool haveValue = false;
    for (;;) {
      SkipSpace();
      if (pos_ >= text_.size()) return owner_.Fail(L"Expected end-tag start", text_, pos_);
      if (!At(L'<')) {
        const std::size_t end = text_.find(L'<', pos_);
        const std::size_t stop = end == std::wstring_view::npos ? text_.size() : end;
        if (!haveValue) {
          std::size_t trimmed = stop;
          while (trimmed > pos_ && IsSpace(text_[trimmed - 1])) --trimmed;
          AppendDecoded(owner_.nodes_[self].value, text_.substr(pos_, trimmed - pos_));
          haveValue = true;
        }
        pos_ = stop;
        continue;
      }
      if (AtString(L"</")) {
        pos_ += 2;
        if (text_.substr(pos_, name.size()) != name) return owner_.Fail(L"Unmatched closing tag", text_, pos_);
        pos_ += name.size();
        const std::size_t close = text_.find(L'>', pos_);
        if (close == std::wstring_view::npos) return owner_.Fail(L"Unmatched closing tag", text_, pos_);
        pos_ = close + 1;
        return true;
      }
      if (AtString(L"<?")) {
        SkipPast(L"?>");
        continue;
      }
      if (AtString(L"<!")) {
        SkipPast(L"->");
        continue;
      }
      if (!ParseElement(self, depth + 1)) return false;
    }
  }

  bool ParseAttributes(std::size_t self) {
    for (;;) {
      SkipSpace();
      if (pos_ >= text_.size() || At(L'/') || At(L'>')) return true;
      const std::wstring_view attrName = ReadName();
      if (attrName.empty()) return owner_.Fail(L"Error while parsing attributes", text_, pos_);
      SkipSpace();
      if (!At(L'=')) return owner_.Fail(L"Error while parsing attributes", text_, pos_);
      ++pos_;
      SkipSpace();
      if (!At(L'"')) return owner_.Fail(L"Expected attribute value", text_, pos_);
      ++pos_;
      const std::size_t close = text_.find(L'"', pos_);
      if (close == std::wstring_view::npos) return owner_.Fail(L"Error while parsing attribute string", text_, pos_);
      std::wstring value;
      AppendDecoded(value, text_.substr(pos_, close - pos_));
      owner_.nodes_[self].attributes.emplace_back(std::wstring(attrName), std::move(value));
      pos_ = close + 1;
    }
  }

  CMarkup& owner_;
  std::wstring_view text_;
  std::size_t pos_ = 0;
};

bool CMarkup::Fail(const wchar_t* message, std::wstring_view text, std::size_t pos) {
  nodes_.clear();
  errorMessage_.assign(message);
  if (errorMessage_.size() > 99) errorMessage_.resize(99);
  errorLocation_.assign(text.substr(pos < text.size() ? pos : text.size(), 49));
  return false;
}

bool CMarkup::Load(std::wstring_view text) {
  Release();
  errorMessage_.clear();
  errorLocation_.clear();
  Parser parser(*this, text);
  if (!parser.Run()) {
    nodes_.clear();
    return false;
  }
  return true;
}

bool CMarkup::LoadFromMem(const void* data, std::size_t size) {
  Release();
  if (size == 0 || data == nullptr) return Fail(L"File is empty", {}, 0);
  if (size > kMaxBytes) return Fail(L"File too large", {}, 0);
  std::string_view bytes(static_cast<const char*>(data), size);
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return Load(oku::WideFromUtf8(bytes));
}

void CMarkup::Release() { nodes_.clear(); }

CMarkupNode CMarkup::GetRoot() const { return nodes_.empty() ? CMarkupNode() : CMarkupNode(this, 0); }

// --- CMarkupNode ---

CMarkupNode CMarkupNode::GetParent() const {
  if (!owner_) return {};
  const std::size_t p = owner_->nodes_[index_].parent;
  return p == CMarkup::npos ? CMarkupNode() : CMarkupNode(owner_, p);
}

CMarkupNode CMarkupNode::GetSibling() const {
  if (!owner_) return {};
  const std::size_t s = owner_->nodes_[index_].nextSibling;
  return s == CMarkup::npos ? CMarkupNode() : CMarkupNode(owner_, s);
}

CMarkupNode CMarkupNode::GetChild() const {
  if (!owner_) return {};
  const std::size_t c = owner_->nodes_[index_].firstChild;
  return c == CMarkup::npos ? CMarkupNode() : CMarkupNode(owner_, c);
}

CMarkupNode CMarkupNode::GetChild(std::wstring_view name) const {
  for (CMarkupNode child = GetChild(); child.IsValid(); child = child.GetSibling()) {
    if (child.GetName() == name) return child;
  }
  return {};
}

bool CMarkupNode::HasSiblings() const { return GetSibling().IsValid(); }
bool CMarkupNode::HasChildren() const { return GetChild().IsValid(); }

const std::wstring& CMarkupNode::GetName() const { return owner_ ? owner_->nodes_[index_].name : kEmpty; }
const std::wstring& CMarkupNode::GetValue() const { return owner_ ? owner_->nodes_[index_].value : kEmpty; }

int CMarkupNode::GetAttributeCount() const {
  return owner_ ? static_cast<int>(owner_->nodes_[index_].attributes.size()) : 0;
}

const std::wstring& CMarkupNode::GetAttributeName(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return kEmpty;
  return owner_->nodes_[index_].attributes[static_cast<std::size_t>(index)].first;
}

const std::wstring& CMarkupNode::GetAttributeValue(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return kEmpty;
  return owner_->nodes_[index_].attributes[static_cast<std::size_t>(index)].second;
}

bool CMarkupNode::HasAttribute(std::wstring_view name) const {
  std::wstring ignored;
  return GetAttributeValue(name, &ignored);
}

const std::wstring& CMarkupNode::GetAttributeValue(std::wstring_view name) const {
  if (!owner_) return kEmpty;
  for (const auto& [key, value] : owner_->nodes_[index_].attributes) {
    if (key == name) return value;
  }
  return kEmpty;
}

bool CMarkupNode::GetAttributeValue(std::wstring_view name, std::wstring* value) const {
  if (!owner_) return false;
  for (const auto& [key, v] : owner_->nodes_[index_].attributes) {
    if (key == name) {
      *value = v;
      return true;
    }
  }
  return false;
}

}  // namespace DuiLib
