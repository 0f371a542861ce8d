// The norvisk command: charts from data strings, written as BMP or JPEG files.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "graph/bar_graph.h"
#include "raster/soft_font.h"

namespace {

using norvisk::BarGraph;

constexpr int kWritten = 0;
constexpr int kNotWritten = 1;
constexpr int kUsage = 2;

constexpr const char* kHelp =
    "norvisk - stacked bar charts from data strings, as BMP or JPEG files\n"
    "\n"
    "Usage:\n"
    "  norvisk bar OUTPUT DATA [--width W] [--height H]\n"
    "      Draws a bar chart of DATA on the background and writes OUTPUT. The name decides the\n"
    "      format: \".bmp\" anywhere gives a bitmap, else \".jpg\" anywhere a JPEG (case matters).\n"
    "      The chart is 640 x 300 unless --width or --height resize it. DATA \"-\" reads stdin.\n"
    "      Example: norvisk bar sales.jpg \"(Q1;Q2)(North;10;20)(South;15;25)\"\n"
    "  norvisk parse bar DATA\n"
    "      Prints what a chart holds after reading DATA, as one JSON object.\n"
    "      Example: norvisk parse bar \"(Q1;Q2)(North;10;20)\"\n"
    "  norvisk --help      this text\n"
    "  norvisk --version   the version\n"
    "\n"
    "Exit status: 0 the file was written, 1 it was not (one line on stderr says why),\n"
    "2 the command line could not be used.\n";

int usage(const std::string& why) {
  std::cerr << "norvisk: " << why << " (see norvisk --help)\n";
  return kUsage;
}

// DATA, or standard input when it is "-".
bool read_data(const char* arg, std::string* data) {
  if (std::strcmp(arg, "-") != 0) {
    *data = arg;
    return true;
  }
  data->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  return !std::cin.bad();
}

bool parse_size(const char* text, int* value) {
  std::string_view s(text);
  auto result = std::from_chars(s.data(), s.data() + s.size(), *value);
  return result.ec == std::errc() && result.ptr == s.data() + s.size();
}

void json_string(std::string& out, std::string_view text) {
  out += '"';
  norvisk::DecodeText(text, [&](char32_t c) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      // Re-encoded as UTF-8: bytes that were not UTF-8 were read as Latin-1.
      if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
      } else {
        if (c < 0x10000) {
          out += static_cast<char>(0xE0 | (c >> 12));
        } else {
          out += static_cast<char>(0xF0 | (c >> 18));
          out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        }
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      }
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  });
  out += '"';
}

// Shortest text that reads back to the same double; infinities as numbers too large for a
// double, which JSON readers take as infinite; not-a-number as null.
void json_number(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "null";
  } else if (std::isinf(value)) {
    out += value < 0 ? "-1e999" : "1e999";
  } else {
    char buf[32];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, result.ptr);
  }
}

int run_parse(int argc, char** argv) {
  if (argc != 4) return usage("parse takes a kind and DATA");
  std::string kind = argv[2];
  if (kind != "bar") return usage("unknown kind \"" + kind + "\"");
  std::string data;
  if (!read_data(argv[3], &data)) {
    std::cerr << "norvisk: cannot read the data from standard input\n";
    return kNotWritten;
  }
  // The reader never draws: a graph without a surface holds the data only.
  BarGraph graph(0, 0);
  graph.LoadData(data);
  const norvisk::BarData& d = graph.data();
  std::string out = "{\"legends\":[";
  for (std::size_t i = 0; i < d.legends.size(); ++i) {
    if (i) out += ',';
    json_string(out, d.legends[i]);
  }
  out += "],\"bars\":[";
  for (std::size_t i = 0; i < d.bars.size(); ++i) {
    if (i) out += ',';
    out += "{\"name\":";
    json_string(out, d.bars[i].name);
    out += ",\"values\":[";
    bool first = true;
    for (double value : d.ValuesOf(d.bars[i])) {
      if (!first) out += ',';
      first = false;
      json_number(out, value);
    }
    out += "]}";
  }
  out += "],\"maxTotal\":";
  json_number(out, d.maxTotal);
  out += "}\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? kWritten : kNotWritten;
}

int run_bar(int argc, char** argv) {
  std::vector<const char*> positional;
  int width = 0, height = 0;
  bool hasWidth = false, hasHeight = false;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--width" || arg == "--height") {
      if (i + 1 >= argc) return usage(arg + " needs a number");
      int* target = arg == "--width" ? &width : &height;
      if (!parse_size(argv[++i], target)) return usage(arg + " needs a whole number");
      (arg == "--width" ? hasWidth : hasHeight) = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return usage("unknown option " + arg);
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() != 2) return usage("bar takes OUTPUT and DATA");
  const char* output = positional[0];
  std::string data;
  if (!read_data(positional[1], &data)) {
    std::cerr << "norvisk: cannot read the data from standard input\n";
    return kNotWritten;
  }
  std::string_view name(output);
  if (name.find(".bmp") == std::string_view::npos && name.find(".jpg") == std::string_view::npos) {
    std::cerr << "norvisk: " << output
              << ": not written: the name must contain \".bmp\" or \".jpg\"\n";
    return kNotWritten;
  }

  BarGraph graph(640, 300);
  if (hasWidth) graph.SetWidth(width);
  if (hasHeight) graph.SetHeight(height);
  if (!graph.canvas->ready()) {
    std::cerr << "norvisk: " << output << ": not written: a picture of " << graph.width << " x "
              << graph.height << " pixels cannot be made\n";
    return kNotWritten;
  }
  graph.LoadBackground(nullptr, norvisk::kBackgroundBitmap);
  graph.LoadData(data);
  if (!graph.SaveToFile(output)) {
    std::cerr << "norvisk: " << output << ": not written: " << std::strerror(errno) << "\n";
    return kNotWritten;
  }
  return kWritten;
}

int run(int argc, char** argv) {
  if (argc < 2) return usage("no command given");
  std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    std::fputs(kHelp, stdout);
    return kWritten;
  }
  if (command == "--version") {
    std::printf("norvisk %s\n", NORVISK_VERSION);
    return kWritten;
  }
  if (command == "bar") return run_bar(argc, argv);
  if (command == "parse") return run_parse(argc, argv);
  return usage("unknown command \"" + command + "\"");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "norvisk: not written: out of memory\n";
    return kNotWritten;
  }
}
