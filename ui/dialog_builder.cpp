#include "ui/dialog_builder.h"

#include <windows.h>

#include <algorithm>

#include "common/portable/text.h"
#include "ui/controls.h"
#include "ui/paint_manager.h"
#include "ui/portable/values.h"

namespace DuiLib {
namespace {

bool IsNumeric(const std::wstring& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

bool NameIs(const std::wstring& name, const wchar_t* expected) { return oku::EqualsIgnoreCaseAscii(name, expected); }

}  // namespace

CControlUI* CDialogBuilder::CreateBuiltinControl(const std::wstring& className) {
  if (NameIs(className, L"VerticalLayout")) return new CVerticalLayoutUI;
  if (NameIs(className, L"HorizontalLayout")) return new CHorizontalLayoutUI;
  if (NameIs(className, L"Container")) return new CContainerUI;
  if (NameIs(className, L"Control")) return new CControlUI;
  if (NameIs(className, L"Button")) return new CButtonUI;
  if (NameIs(className, L"Label")) return new CLabelUI;
  if (NameIs(className, L"Edit")) return new CEditUI;
  if (NameIs(className, L"Progress")) return new CProgressUI;
  return nullptr;
}

CControlUI* CDialogBuilder::Create(const std::wstring& source, const std::wstring& type,
                                   IDialogBuilderCallback* callback, CPaintManagerUI* manager, CControlUI* parent) {
  if (!source.empty() && source.front() == L'<') {
    if (!m_xml.Load(source)) return nullptr;
  } else if (IsNumeric(source)) {
    HINSTANCE module = CPaintManagerUI::GetInstance();
    HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(ParseInteger(source)), type.empty() ? L"XML" : type.c_str());
    if (!res) return nullptr;
    HGLOBAL loaded = ::LoadResource(module, res);
    if (!loaded) return nullptr;
    if (!m_xml.LoadFromMem(::LockResource(loaded), ::SizeofResource(module, res))) return nullptr;
  } else {
    if (!m_xml.LoadFromFile(CPaintManagerUI::GetResourcePath() + source)) return nullptr;
  }
  return Create(callback, manager, parent);
}

CControlUI* CDialogBuilder::Create(IDialogBuilderCallback* callback, CPaintManagerUI* manager, CControlUI* parent) {
  m_pCallback = callback;
  const CMarkupNode root = m_xml.GetRoot();
  if (!root.IsValid()) return nullptr;
  if (manager) {
    if (NameIs(root.GetName(), L"Window") && manager->GetPaintWindow()) {
      for (int i = 0; i < root.GetAttributeCount(); ++i) {
        manager->SetWindowAttribute(root.GetAttributeName(i), root.GetAttributeValue(i));
      }
    }
    // Shared resource declarations: fonts and default attribute lists; the rest of them
    // (images, languages) are outside the subset.
    for (CMarkupNode node = root.GetChild(); node.IsValid(); node = node.GetSibling()) {
      if (NameIs(node.GetName(), L"Font")) {
        const std::wstring id = node.GetAttributeValue(L"id");
        manager->AddFont(id.empty() ? -1 : ParseInteger(id), node.GetAttributeValue(L"name"),
                         ParseInteger(node.GetAttributeValue(L"size")), ParseBool(node.GetAttributeValue(L"bold")),
                         ParseBool(node.GetAttributeValue(L"underline")), ParseBool(node.GetAttributeValue(L"italic")),
                         ParseBool(node.GetAttributeValue(L"shared")));
      } else if (NameIs(node.GetName(), L"Default")) {
        manager->AddDefaultAttributeList(node.GetAttributeValue(L"name"), node.GetAttributeValue(L"value"));
      }
    }
  }
  return Parse(root, parent, manager);
}

CControlUI* CDialogBuilder::Parse(const CMarkupNode& parentNode, CControlUI* parent, CPaintManagerUI* manager) {
  CControlUI* first = nullptr;
  for (CMarkupNode node = parentNode.GetChild(); node.IsValid(); node = node.GetSibling()) {
    const std::wstring& className = node.GetName();
    CControlUI* control = CreateBuiltinControl(className);
    if (!control && m_pCallback) control = m_pCallback->CreateControl(className.c_str());
    if (!control) continue;  // unknown element: skipped with its subtree

    if (node.HasChildren()) Parse(node, control, manager);

    if (parent) {
      auto* container = static_cast<CContainerUI*>(parent->GetInterface(L"Container"));
      if (!container) {
        // Children of a non-container end here.
        delete control;
        return first;
      }
      if (node.GetAttributeValue(L"cover") == L"true") {
        container->SetCover(control);
      } else if (!container->Add(control)) {
        delete control;
        continue;
      }
    } else if (first) {
      // Without a parent only the first top-level control is returned; a second one would
      // have no owner.
      delete control;
      continue;
    }

    if (manager) {
      control->SetManager(manager, control->GetParent(), false);
      const std::wstring defaults = manager->GetDefaultAttributeList(className);
      if (!defaults.empty()) control->ApplyAttributeList(defaults);
    }
    for (int i = 0; i < node.GetAttributeCount(); ++i) {
      control->SetAttribute(node.GetAttributeName(i), node.GetAttributeValue(i));
    }
    if (manager) control->SetManager(nullptr, control->GetParent(), false);

    if (!first) first = control;
  }
  return first;
}

}  // namespace DuiLib
