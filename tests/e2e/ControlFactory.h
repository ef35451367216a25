#pragma once
// The control as a page gets it: through the class factory, as a dispatch interface.
#include "control/tarvox/TarvoImpl.h"
#include "platform/com/ComServer.h"

inline ComPtr<IDispatch> CreateControlForPage(QWidget* page) {
  ComPtr<IDispatch> control;
  if (Failed(TarvoXFactory()->CreateInstance(page, IID_IDispatch, control.PutVoid()))) return {};
  return control;
}
