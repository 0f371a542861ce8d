// ControlWindow: what the visual graph object needs of the window it draws into.
#pragma once

#include "raster/canvas.h"

namespace norvisk {

class ControlWindow {
 public:
  virtual ~ControlWindow() = default;
  // Whether the window exists: a container has activated the control.
  virtual bool Exists() = 0;
  // The client area's size in pixels (only while the window exists).
  virtual void ClientSize(int* width, int* height) = 0;
  // The control's extent in HIMETRIC units (0.01 mm), also known before the window exists.
  virtual void Extent(long* width, long* height) = 0;
  // A drawing target for the window, and giving it back; nullptr when none can be had.
  virtual DeviceContext AcquireTarget() = 0;
  virtual void ReleaseTarget(DeviceContext target) = 0;
};

}  // namespace norvisk
