// The norvisk command: charts from data strings, written as BMP, JPEG or PNG files.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "objects/nv_graph.h"
#include "raster/png_writer.h"
#include "objects/parse_json.h"
#include "serve/serve.h"

namespace norvisk::cli {
namespace {

constexpr const char* kHelp =
    "norvisk - stacked bar and XY line charts from data strings, as BMP, JPEG or PNG files\n"
    "\n"
    "Usage:\n"
    "  norvisk bar OUTPUT DATA [--width W] [--height H]\n"
    "      Draws a bar chart of DATA on the background and writes OUTPUT. The name decides the\n"
    "      format: \".bmp\" anywhere gives a bitmap, else \".jpg\" anywhere a JPEG, else \".png\"\n"
    "      anywhere a PNG (case matters; another name writes nothing).\n"
    "      The chart is 640 x 300 unless --width or --height resize it. DATA \"-\" reads stdin.\n"
    "      Example: norvisk bar sales.jpg \"(Q1;Q2)(North;10;20)(South;15;25)\"\n"
    "  norvisk xy OUTPUT DATA [--width W] [--height H]\n"
    "      The same for an XY line chart; DATA is \"(label;number)\" pairs. Without a point\n"
    "      nothing is written.\n"
    "      Example: norvisk xy visits.bmp \"(Jan;10)(Feb;20)(Mar;15)\"\n"
    "  norvisk parse bar|xy DATA\n"
    "      Prints what a chart holds after reading DATA, as one JSON object.\n"
    "      Example: norvisk parse xy \"(Jan;10)(Feb;20)\"\n"
    "  norvisk serve [--listen ADDR:PORT] [--threads N] [...]\n"
    "      Serves charts over HTTP: GET /bar.jpg?data=DATA and the like (Linux only; see\n"
    "      norvisk serve --help).\n"
    "  norvisk run [SCRIPT|-] [--trace] [--com]\n"
    "      Makes the graph object calls of SCRIPT (standard input when \"-\" or none), one a\n"
    "      line: the method, then its arguments separated by blanks; texts with blanks or\n"
    "      quotes in double quotes (\\\" and \\\\ inside); \"#\" starts a comment line.\n"
    "      The object's files are bitmaps and JPEGs only: a \".png\" name writes nothing.\n"
    "      --trace prints each method and its status (S_OK, S_FALSE or 0x8007000E).\n"
    "      --com makes the calls through the registered class (Windows build only).\n"
    "      Example: norvisk run examples/quarterly.run --trace\n"
    "  norvisk --help      this text\n"
    "  norvisk --version   the version\n"
    "  \"--\" ends the options: OUTPUT, DATA or SCRIPT may then begin with \"-\".\n"
    "\n"
    "Exit status: 0 the file was written (the JSON printed, the script ran to its end);\n"
    "1 it was not (a file there is left as it was), the script or standard input could not be\n"
    "read, or standard output could not be written (one line on stderr says why);\n"
    "2 the command line could not be used, or a script line could not be read (its number\n"
    "is given; the lines before it were run).\n";

// What the `bar` and `xy` commands and `parse` need to know of a kind of graph.
struct ChartKind {
  std::string_view name;
  GraphKind kind;
  HRESULT (NVGraph::*create)();
  // Why the data the object's graph read gives no picture, or nullptr when it does.
  const char* (*nothingToDraw)(const GraphHolder& object);
};

constexpr ChartKind kKinds[] = {
    {"bar", GraphKind::Bar, &NVGraph::CreateBarGraph,
     [](const GraphHolder&) -> const char* { return nullptr; }},
    {"xy", GraphKind::XY, &NVGraph::CreateXYGraph,
     [](const GraphHolder& object) -> const char* {
       return object.xyData()->Count() == 0 ? "the data held no point" : nullptr;
     }},
};

const ChartKind* FindKind(std::string_view name) {
  for (const ChartKind& kind : kKinds)
    if (kind.name == name) return &kind;
  return nullptr;
}

// DATA, or standard input when it is "-"; false (errno says why) when that cannot be read.
bool ReadData(const char* arg, std::string* data) {
  if (std::strcmp(arg, "-") != 0) {
    *data = arg;
    return true;
  }
  return ReadAll(stdin, data);
}

int CannotReadData() {
  return Fail(std::string("cannot read the data from standard input: ") + std::strerror(errno));
}

int OutOfMemory() {
  std::cerr << "norvisk: out of memory\n";
  return kNotWritten;
}

bool ParseSize(const char* text, int* value) {
  std::string_view s(text);
  auto result = std::from_chars(s.data(), s.data() + s.size(), *value);
  return result.ec == std::errc() && result.ptr == s.data() + s.size();
}

int ParseCommand(int argc, char** argv) {
  // It has no options; a "--" may still stand before the kind or DATA.
  std::vector<const char*> args(argv + 2, argv + argc);
  auto dashes = std::find_if(args.begin(), args.end(),
                             [](const char* arg) { return std::strcmp(arg, "--") == 0; });
  if (dashes != args.end()) args.erase(dashes);
  if (args.size() != 2) return Usage("parse takes a kind and DATA");
  const ChartKind* kind = FindKind(args[0]);
  if (!kind) return Usage("unknown kind \"" + std::string(args[0]) + "\"");
  std::string data;
  if (!ReadData(args[1], &data)) return CannotReadData();
  // The same text as the service's /parse, from the same code in the library.
  std::string out;
  if (ParseJson(kind->kind, data, &out) != S_OK) return OutOfMemory();
  out += '\n';
  std::fwrite(out.data(), 1, out.size(), stdout);
  return FinishOutput(kWritten);
}

// The format OUTPUT asks for: the component's rule (".bmp", else ".jpg"), then ".png" anywhere,
// case-sensitive as the others; nullptr for none.
PictureWriter OutputWriter(std::string_view output) {
  if (const PictureWriter writer = WriterFor(ImageFormatFor(output))) return writer;
  if (output.find(".png") != std::string_view::npos) return WritePng;
  return nullptr;
}

// `bar` and `xy`: a new graph of the kind, resized, on the background, with the data, saved.
int DrawCommand(const ChartKind& kind, int argc, char** argv) {
  std::vector<const char*> positional;
  int width = 640, height = 300;
  bool hasWidth = false, hasHeight = false;
  bool options = true;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (!options) {
      positional.push_back(argv[i]);
    } else if (arg == "--") {
      // The rest are OUTPUT and DATA, even where they begin with "-".
      options = false;
    } else if (arg == "--width" || arg == "--height") {
      if (i + 1 >= argc) return Usage(arg + " needs a number");
      int* target = arg == "--width" ? &width : &height;
      if (!ParseSize(argv[++i], target)) return Usage(arg + " needs a whole number");
      (arg == "--width" ? hasWidth : hasHeight) = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() != 2) return Usage(std::string(kind.name) + " takes OUTPUT and DATA");
  const char* output = positional[0];
  std::string data;
  if (!ReadData(positional[1], &data)) return CannotReadData();
  const PictureWriter writer = OutputWriter(output);
  if (writer == nullptr) {
    return Fail(std::string(output) +
                ": not written: the name must contain \".bmp\", \".jpg\" or \".png\"");
  }
  if (std::string missing; writer == WritePng && !PngWriterReady(&missing))
    return Fail(std::string(output) + ": not written: " + missing);

  // The calls a program makes on libnorvisk's graph object, the same object underneath.
  NVGraph object;
  HRESULT hr = (object.*kind.create)();
  if (hr == S_OK && hasWidth) hr = object.SetWidth(width);
  if (hr == S_OK && hasHeight) hr = object.SetHeight(height);
  if (hr != S_OK) return OutOfMemory();
  if (!object.HasPicture()) {
    return Fail(std::string(output) + ": not written: a picture of " + std::to_string(width) +
                " x " + std::to_string(height) + " pixels cannot be made");
  }
  if (object.ReadData(data) != S_OK) return OutOfMemory();
  if (const char* why = kind.nothingToDraw(object))
    return Fail(std::string(output) + ": not written: " + why);
  errno = 0;
  ExportResult outcome = ExportResult::NotWritten;
  if (object.SaveAs(output, writer, &outcome) != S_OK || outcome == ExportResult::NoMemory)
    return OutOfMemory();
  if (outcome != ExportResult::Written) {
    return Fail(std::string(output) +
                ": not written: " + (errno ? std::strerror(errno) : "the file could not be made"));
  }
  return kWritten;
}

int Main(int argc, char** argv) {
  if (argc < 2) return Usage("no command given");
  std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "--version") {
    if (argc > 2) return Usage(std::string(command) + " takes no arguments");
    if (command == "--version")
      std::printf("norvisk %s\n", NORVISK_VERSION);
    else
      std::fputs(kHelp, stdout);
    return FinishOutput(kWritten);
  }
  if (command == "parse") return ParseCommand(argc, argv);
  if (command == "run") return RunCommand(argc, argv);
  if (command == "serve") return norvisk::serve::ServeCommand(argc, argv);
  if (const ChartKind* kind = FindKind(command)) return DrawCommand(*kind, argc, argv);
  return Usage("unknown command \"" + std::string(command) + "\"");
}

}  // namespace

int Usage(std::string_view why) {
  const std::string line = "norvisk: " + OneLine(why) + " (see norvisk --help)\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return kUsage;
}

}  // namespace norvisk::cli

int main(int argc, char** argv) {
  using norvisk::cli::kNotWritten;
  try {
    return norvisk::cli::Main(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "norvisk: out of memory\n";
  } catch (const std::exception& e) {
    norvisk::cli::Fail(e.what());
  } catch (...) {
    std::cerr << "norvisk: stopped by an unknown error\n";
  }
  return kNotWritten;
}
