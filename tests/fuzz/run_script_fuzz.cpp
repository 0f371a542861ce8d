// Run scripts through the built-in graph object. Every file name is confined to the scratch
// folder (a plain name stays as it is; any other becomes one that keeps what decides the format)
// and sizes are kept to what draws quickly, so that each input stays fast; sizes far beyond any
// surface are passed on as they are.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "cli/graph_calls.h"
#include "cli/script.h"
#include "fuzz_support.h"

namespace {

using norvisk::cli::GraphCalls;

std::string Confined(std::string_view name) {
  bool plain = !name.empty() && name.size() <= 64 && name[0] != '.';
  for (char c : name)
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-');
  std::string base = plain ? std::string(name) : "file";
  if (!plain && name.find(".bmp") != std::string_view::npos)
    base += ".bmp";
  else if (!plain && name.find(".jpg") != std::string_view::npos)
    base += ".jpg";
  return (norvisk_fuzz::ScratchDir() / base).string();
}

int Bounded(int size) {
  constexpr int kLargest = 2048;
  constexpr int kBeyondAnySurface = 1 << 28;
  if (size > kLargest && size < kBeyondAnySurface) return kLargest;
  if (size < -kLargest && size > -kBeyondAnySurface) return -kLargest;
  return size;
}

class ConfinedCalls final : public GraphCalls {
 public:
  ConfinedCalls() : inner_(norvisk::cli::MakeNVGraphCalls()) {}
  HRESULT AddBarBar(std::string_view legend) override { return inner_->AddBarBar(legend); }
  HRESULT AddBarLegend(std::string_view legend) override { return inner_->AddBarLegend(legend); }
  HRESULT AddBarValue(double value) override { return inner_->AddBarValue(value); }
  HRESULT AddXYValue(std::string_view legend, double value) override {
    return inner_->AddXYValue(legend, value);
  }
  HRESULT Clear() override { return inner_->Clear(); }
  HRESULT CreateXYGraph() override { return inner_->CreateXYGraph(); }
  HRESULT SaveToFile(std::string_view fileName) override {
    return inner_->SaveToFile(Confined(fileName));
  }
  HRESULT DrawBarGraph(std::string_view fileName, std::string_view data) override {
    return inner_->DrawBarGraph(Confined(fileName), data);
  }
  HRESULT DrawXYGraph(std::string_view fileName, std::string_view data) override {
    return inner_->DrawXYGraph(Confined(fileName), data);
  }
  HRESULT CreateBarGraph() override { return inner_->CreateBarGraph(); }
  HRESULT SetWidth(int width) override { return inner_->SetWidth(Bounded(width)); }
  HRESULT SetHeight(int height) override { return inner_->SetHeight(Bounded(height)); }

 private:
  std::unique_ptr<GraphCalls> inner_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* trace = std::fopen("/dev/null", "w");
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  {
    ConfinedCalls calls;
    norvisk::cli::ScriptError error;
    const bool read = norvisk::cli::RunScript(text, calls, trace, &error);
    norvisk_fuzz::Check(read || (error.line >= 1 && !error.why.empty()),
                        "a stopped script names its line and why");
  }
  norvisk_fuzz::CheckNothingAlive();
  norvisk_fuzz::ClearScratch();
  return 0;
}
