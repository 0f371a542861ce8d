// GraphCalls: the twelve methods of the non-visual graph object, as a script calls them.
//
// The interpreter only talks to this interface, so the object behind it can change: here it is
// the library's NVGraph; a Windows build can put the registered COM class behind it instead.
#pragma once

#include <memory>
#include <string_view>

#include "objects/status.h"

namespace norvisk::cli {

class GraphCalls {
 public:
  virtual ~GraphCalls() = default;

  virtual HRESULT AddBarBar(std::string_view legend) = 0;
  virtual HRESULT AddBarLegend(std::string_view legend) = 0;
  virtual HRESULT AddBarValue(double value) = 0;
  virtual HRESULT AddXYValue(std::string_view legend, double value) = 0;
  virtual HRESULT Clear() = 0;
  virtual HRESULT CreateXYGraph() = 0;
  virtual HRESULT SaveToFile(std::string_view fileName) = 0;
  virtual HRESULT DrawBarGraph(std::string_view fileName, std::string_view data) = 0;
  virtual HRESULT DrawXYGraph(std::string_view fileName, std::string_view data) = 0;
  virtual HRESULT CreateBarGraph() = 0;
  virtual HRESULT SetWidth(int width) = 0;
  virtual HRESULT SetHeight(int height) = 0;
};

// The calls made on a new NVGraph of this process.
std::unique_ptr<GraphCalls> MakeNVGraphCalls();

}  // namespace norvisk::cli
