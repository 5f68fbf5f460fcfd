#include "platform/win32/Win32Backend.h"

// The GUIDs of the annotation service are defined here, once.
// clang-format off
#include <initguid.h>
#include <objbase.h>
#include <oleacc.h>
// clang-format on

#include "platform/win32/Win32System.h"

namespace tallimo::win32 {

Accessibility::Accessibility() {
  comStarted_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  // A failed call leaves the pointer null: then screen readers go without
  // our names and descriptions.
  ::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                     reinterpret_cast<void**>(&services_));
}

Accessibility::~Accessibility() {
  if (services_) services_->Release();
  if (comStarted_) ::CoUninitialize();
}

void Accessibility::setName(HWND h, std::string_view name) {
  if (!services_) return;
  const std::wstring text = widen(name);
  // The window itself and its client area: screen readers ask either.
  for (const LONG object : {OBJID_WINDOW, OBJID_CLIENT})
    services_->SetHwndPropStr(h, static_cast<DWORD>(object), CHILDID_SELF, PROPID_ACC_NAME,
                              text.c_str());
}

void Accessibility::setDescription(HWND h, std::string_view description, bool announce) {
  if (!services_) return;
  services_->SetHwndPropStr(h, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                            PROPID_ACC_DESCRIPTION, widen(description).c_str());
  if (announce) ::NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, h, OBJID_CLIENT, CHILDID_SELF);
}

void Accessibility::forget(HWND h) {
  if (!services_) return;
  MSAAPROPID props[] = {PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION};
  for (const LONG object : {OBJID_WINDOW, OBJID_CLIENT})
    services_->ClearHwndProps(h, static_cast<DWORD>(object), CHILDID_SELF, props, 2);
}

}  // namespace tallimo::win32
