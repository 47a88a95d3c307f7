// The layout reader and the builder's attribute parsing: a document is loaded from bytes (the
// installer reads main.xml as UTF-8), every node walked, and every attribute value handed to
// the value parsers the builder uses for it.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "ui/portable/image_description.h"
#include "ui/portable/markup.h"
#include "ui/portable/values.h"

namespace {

void ParseValueEveryWay(const std::wstring& value) {
  (void)DuiLib::ParseRect(value);
  (void)DuiLib::ParseSize(value);
  (void)DuiLib::ParseInteger(value);
  (void)DuiLib::ParseBool(value);
  (void)DuiLib::ParseColor(value, true);
  (void)DuiLib::ParseHorizontalAlign(value, {});
  (void)DuiLib::ParseVerticalAlign(value, {});
  (void)DuiLib::ParseImageDescription(value);
  // Default attribute lists ("value" of <Default>) are attribute lists themselves.
  for (const auto& [name, inner] : DuiLib::ParseAttributeList(value)) {
    (void)name;
    (void)DuiLib::ParseImageDescription(inner);
    (void)DuiLib::ParseRect(inner);
  }
}

void Walk(const DuiLib::CMarkup& markup) {
  // Iterative walk: the reader bounds the depth, the walk must not rely on it.
  DuiLib::CMarkupNode node = markup.GetRoot();
  while (node.IsValid()) {
    (void)node.GetName();
    (void)node.GetValue();
    for (int i = 0; i < node.GetAttributeCount(); ++i) {
      const std::wstring& name = node.GetAttributeName(i);
      if (!node.HasAttribute(name)) __builtin_trap();
      ParseValueEveryWay(node.GetAttributeValue(i));
    }
    if (node.HasChildren()) {
      node = node.GetChild();
      continue;
    }
    while (node.IsValid() && !node.GetSibling().IsValid()) node = node.GetParent();
    if (node.IsValid()) node = node.GetSibling();
  }
}

void Check(const DuiLib::CMarkup& markup, bool loaded) {
  if (loaded != markup.IsValid()) __builtin_trap();
  if (markup.GetLastErrorMessage().size() > 99 || markup.GetLastErrorLocation().size() > 49) __builtin_trap();
  if (loaded) Walk(markup);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DuiLib::CMarkup fromBytes;
  Check(fromBytes, fromBytes.LoadFromMem(data, size));
  // The same bytes as raw UTF-16 reach the reader with unpaired surrogates and NULs.
  DuiLib::CMarkup fromText;
  Check(fromText, fromText.Load(oku_fuzz::RawUtf16(data, size)));
  return 0;
}
