// ControlDialog: the control's window, a modeless child dialog made from the module's dialog
// template, with its background brush, its message map and its painting (the graph, or the
// logo while there is none). It is also the ControlWindow the graph object draws through.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "objects/control_window.h"
#include "objects/v_graph.h"

namespace norvisk {

// The control's starting extent in HIMETRIC: the size of its dialog template, whose dialog
// units follow the template's font ("MS Sans Serif", 8 points).
SIZEL TemplateExtent();

// The placeholder drawn for a control that is not in-place active: a grey box over `bounds`
// (device pixels) with the control's kind written in its middle.
void DrawPlaceholder(HDC dc, const RECT& bounds);

class ControlDialog final : public ControlWindow {
 public:
  // What the window asks of the control it belongs to.
  class Owner {
   public:
    // The graph object whose current graph the window shows.
    virtual VGraph& GraphObject() = 0;
    virtual bool InPlaceActive() = 0;
    virtual void FocusGained() = 0;
    // The focus went to `gaining`.
    virtual void FocusLost(HWND gaining) = 0;
    virtual void MouseActivated() = 0;

   protected:
    ~Owner() = default;
  };

  ControlDialog(Owner& owner, const SIZEL& extent) : owner_(owner), extent_(extent) {}
  ~ControlDialog() override;
  ControlDialog(const ControlDialog&) = delete;
  ControlDialog& operator=(const ControlDialog&) = delete;

  // Makes the (hidden) window as a child of `parent`; false when the system refuses.
  bool Create(HWND parent);
  // Shown without being activated.
  void Show();
  // Placed at `position` in the parent's client coordinates, showing only what lies in `clip`.
  void Place(const RECT& position, const RECT& clip);
  void Destroy();
  HWND handle() const { return window_; }

  // A solid brush of `color`, or none (the dialog's default colour) for CLR_INVALID; any
  // previous brush is deleted.
  void SetBackground(COLORREF color);
  bool HasBackground() const { return brush_ != nullptr; }
  // The whole window invalidated and erased.
  void Repaint();

  // ControlWindow
  bool Exists() override { return window_ != nullptr; }
  void ClientSize(int* width, int* height) override;
  void Extent(long* width, long* height) override;
  DeviceContext AcquireTarget() override;
  void ReleaseTarget(DeviceContext target) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam);
  void Paint(HDC given);
  // The control's own drawing pass over `dc`: the placeholder while not in-place active.
  void PaintPlaceholder(HDC dc);
  // Whether the paint about to begin covers all of `area` (client pixels).
  bool UpdateCovers(const RECT& area) const;
  // Whether it covers all of the logo, centred in the client area.
  bool UpdateCoversLogo();
  void PaintLogo(HDC target);
  // The graph, or the logo without one, through a device context of the whole window.
  void PaintThroughWindow();

  // The graph's canvas as the window's paint last put it there: the canvas's own pixels, to
  // tell whether they changed since, and the same picture in the 32-bit layout of window
  // surfaces, which a window takes row by row instead of converting every pixel of a 24-bit
  // canvas (several times the cost of the copy itself).
  class ShownCanvas {
   public:
    ShownCanvas() = default;
    ~ShownCanvas();
    ShownCanvas(const ShownCanvas&) = delete;
    ShownCanvas& operator=(const ShownCanvas&) = delete;

    // Whether it holds exactly the 24-bit pixels `bits`.
    bool Holds(const SurfaceBits& bits) const;
    // Takes `bits` in; false, holding nothing, for another depth or when memory is refused.
    bool Take(const SurfaceBits& bits);
    void Forget() { held_ = false; }
    // Forgotten, and its memory given back.
    void Release();
    // Copied to the top-left corner of `target`.
    bool CopyTo(HDC target) const;

   private:
    bool Reserve(int width, int height);

    bool held_ = false;
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t> canvas_;  // the canvas's rows as they were, bottom row first
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    std::uint32_t* pixels_ = nullptr;  // 32-bit BGRX rows, bottom row first
  };

  Owner& owner_;
  const SIZEL& extent_;
  HWND window_ = nullptr;
  HBRUSH brush_ = nullptr;
  COLORREF color_ = 0;
  // Held only while the window shows it over the graph's whole area.
  ShownCanvas shown_;
  // While a paint begins that copies the graph over `covered_`: its erase leaves that alone.
  bool covering_ = false;
  RECT covered_{};
};

}  // namespace norvisk
