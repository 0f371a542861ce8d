// The control object: its parts, its interface table, and what it lets go of when released.
#include "component/v_graph_control.h"

#include "component/graph_objects.h"

namespace norvisk {

VGraphControl::VGraphControl(IUnknown* outer)
    : DispatchObject(outer),
      extent_(TemplateExtent()),
      window_(*this, extent_),
      graph_(window_, static_cast<ModuleHandle>(ModuleInstance())) {}

VGraphControl::~VGraphControl() {
  // Released without being closed: the window goes without telling a site that let go of us.
  window_.Destroy();
  ReleaseHeld(frame_);
  ReleaseHeld(uiWindow_);
  ReleaseHeld(inPlaceSite_);
  ReleaseHeld(clientSite_);
  ReleaseHeld(adviseHolder_);
  ReleaseHeld(viewSink_);
}

// After IUnknown, IDispatch and IVGraph, in the order a container's questions are most often
// asked.
void* VGraphControl::FindInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IViewObjectEx) || IsEqualIID(riid, IID_IViewObject2) ||
      IsEqualIID(riid, IID_IViewObject))
    return static_cast<IViewObjectEx*>(this);
  if (IsEqualIID(riid, IID_IOleInPlaceObjectWindowless) ||
      IsEqualIID(riid, IID_IOleInPlaceObject) || IsEqualIID(riid, IID_IOleWindow))
    return static_cast<IOleInPlaceObjectWindowless*>(this);
  if (IsEqualIID(riid, IID_IOleInPlaceActiveObject))
    return static_cast<IOleInPlaceActiveObject*>(this);
  if (IsEqualIID(riid, IID_IOleControl)) return static_cast<IOleControl*>(this);
  if (IsEqualIID(riid, IID_IOleObject)) return static_cast<IOleObject*>(this);
  if (IsEqualIID(riid, IID_IPersistStreamInit) || IsEqualIID(riid, IID_IPersist))
    return static_cast<IPersistStreamInit*>(this);
  return nullptr;
}

HRESULT CreateVGraphObject(IUnknown* outer, REFIID riid, void** object) {
  return CreateAggregatable<VGraphControl>(outer, riid, object);
}

}  // namespace norvisk
