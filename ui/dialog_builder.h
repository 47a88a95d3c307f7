// Builds a control tree from a layout description (text, file in the resource directory, or a
// resource of the module).
#pragma once

#include <string>

#include "ui/portable/markup.h"

namespace DuiLib {

class CControlUI;
class CPaintManagerUI;

class IDialogBuilderCallback {
 public:
  // A control for a class name the toolkit does not know, or null.
  virtual CControlUI* CreateControl(const wchar_t* pstrClass) = 0;

 protected:
  ~IDialogBuilderCallback() = default;
};

class CDialogBuilder {
 public:
  // source: text starting with "<", a numeric resource id of type, or a file name in the
  // resource directory. Returns the first control built under the root, or null.
  CControlUI* Create(const std::wstring& source, const std::wstring& type = L"",
                     IDialogBuilderCallback* callback = nullptr, CPaintManagerUI* manager = nullptr,
                     CControlUI* parent = nullptr);
  // Builds from the already loaded markup.
  CControlUI* Create(IDialogBuilderCallback* callback = nullptr, CPaintManagerUI* manager = nullptr,
                     CControlUI* parent = nullptr);

  CMarkup* GetMarkup() { return &m_xml; }
  const std::wstring& GetLastErrorMessage() const { return m_xml.GetLastErrorMessage(); }
  const std::wstring& GetLastErrorLocation() const { return m_xml.GetLastErrorLocation(); }

  // The control for an element name (case-insensitive), or null for names outside the table.
  static CControlUI* CreateBuiltinControl(const std::wstring& className);

 private:
  CControlUI* Parse(const CMarkupNode& parentNode, CControlUI* parent, CPaintManagerUI* manager);

  CMarkup m_xml;
  IDialogBuilderCallback* m_pCallback = nullptr;
};

}  // namespace DuiLib
