// `norvisk run` as a process: graph object calls read from a script, one a line.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cli_process.h"

namespace {

using namespace norvisk_cli_test;

class CliRun : public Cli {
 protected:
  // Writes `text` as a script in the test's folder; "@" in it stands for that folder.
  std::string Script(const std::string& text, const std::string& name = "s.run") {
    std::string expanded;
    for (char c : text) expanded += c == '@' ? dir.string() : std::string(1, c);
    WriteFile(dir / name, expanded);
    return Path(name);
  }
  Result Run(const std::string& text, const std::string& options = "--trace") {
    return Norvisk("run '" + Script(text) + "' " + options);
  }
};

TEST_F(CliRun, BuildsABarChartCallByCallAsTheDataStringWould) {
  Result r =
      Run("CreateBarGraph\n"
          "AddBarLegend Q1\n"
          "AddBarLegend Q2\n"
          "AddBarBar North\n"
          "AddBarValue 10\n"
          "AddBarValue 20\n"
          "AddBarBar South\n"
          "AddBarValue 15\n"
          "AddBarValue 25\n"
          "SaveToFile @/calls.bmp\n"
          "SaveToFile @/calls.jpg\n",
          "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(r.err.empty());
  ASSERT_TRUE(fs::exists(Path("calls.bmp")));
  EXPECT_EQ(fs::file_size(Path("calls.bmp")), BmpBytes(640, 300));
  EXPECT_EQ(Slurp(Path("calls.jpg")).substr(0, 2), "\xFF\xD8");

  // The same chart from its data string, by the bar command and by DrawBarGraph.
  ASSERT_EQ(Norvisk("bar '" + Path("data.bmp") + "' '(Q1;Q2)(North;10;20)(South;15;25)'").status,
            0);
  EXPECT_EQ(Slurp(Path("calls.bmp")), Slurp(Path("data.bmp")));
  r = Run("DrawBarGraph @/draw.bmp (Q1;Q2)(North;10;20)(South;15;25)\n", "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Slurp(Path("draw.bmp")), Slurp(Path("data.bmp")));
}

TEST_F(CliRun, BuildsAnXYChartAsTheXyCommandWould) {
  Result r =
      Run("CreateXYGraph\n"
          "AddXYValue Jan 10\n"
          "AddXYValue Feb 20\n"
          "AddXYValue Mar 15\n"
          "SaveToFile @/calls.bmp\n"
          "DrawXYGraph @/draw.bmp (Jan;10)(Feb;20)(Mar;15)\n");
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(Norvisk("xy '" + Path("data.bmp") + "' '(Jan;10)(Feb;20)(Mar;15)'").status, 0);
  EXPECT_EQ(fs::file_size(Path("data.bmp")), BmpBytes(640, 300));
  EXPECT_EQ(Slurp(Path("calls.bmp")), Slurp(Path("data.bmp")));
  EXPECT_EQ(Slurp(Path("draw.bmp")), Slurp(Path("data.bmp")));
}

TEST_F(CliRun, TraceGivesEachCallAndItsStatus) {
  Result r =
      Run("SetWidth 100\n"  // no graph yet
          "SetHeight 100\n"
          "AddBarBar x\n"
          "SaveToFile @/none.bmp\n"  // nothing to save, yet not a failure
          "CreateBarGraph\n"
          "AddXYValue a 1\n"  // the wrong kind
          "AddBarLegend L\n"
          "AddBarBar x\n"
          "AddBarValue 1\n"
          "SetWidth 320\n"
          "SaveToFile @/bar.bmp\n"
          "CreateXYGraph\n"
          "AddBarValue 1\n"
          "AddBarLegend L\n"
          "AddXYValue a 1\n"
          "Clear\n"
          "DrawBarGraph @/d.bmp (A)(x;1)\n"
          "DrawXYGraph @/d.jpg (a;1)\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty());
  EXPECT_EQ(r.out,
            "SetWidth S_FALSE\n"
            "SetHeight S_FALSE\n"
            "AddBarBar S_FALSE\n"
            "SaveToFile S_OK\n"
            "CreateBarGraph S_OK\n"
            "AddXYValue S_FALSE\n"
            "AddBarLegend S_OK\n"
            "AddBarBar S_OK\n"
            "AddBarValue S_OK\n"
            "SetWidth S_OK\n"
            "SaveToFile S_OK\n"
            "CreateXYGraph S_OK\n"
            "AddBarValue S_FALSE\n"
            "AddBarLegend S_FALSE\n"
            "AddXYValue S_OK\n"
            "Clear S_OK\n"
            "DrawBarGraph S_OK\n"
            "DrawXYGraph S_OK\n");
  EXPECT_FALSE(fs::exists(Path("none.bmp")));
  EXPECT_EQ(fs::file_size(Path("bar.bmp")), BmpBytes(320, 300));
  EXPECT_TRUE(fs::exists(Path("d.bmp")));
  EXPECT_TRUE(fs::exists(Path("d.jpg")));

  // Without --trace the same calls print nothing.
  r = Norvisk("run '" + Path("s.run") + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.empty());
}

TEST_F(CliRun, PngNamesWriteNothingAsTheComponentWrites) {
  // The script's calls are the graph object's: its files are bitmaps and JPEGs only, whatever
  // the bar and xy commands write for the same name.
  Result r =
      Run("CreateBarGraph\n"
          "AddBarBar x\n"
          "AddBarValue 1\n"
          "SaveToFile @/chart.png\n"
          "DrawBarGraph @/bar.png (A)(x;1)\n"
          "DrawXYGraph @/xy.png (a;1)(b;2)\n"
          "SaveToFile @/chart.png.bmp\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty());
  EXPECT_EQ(r.out,
            "CreateBarGraph S_OK\nAddBarBar S_OK\nAddBarValue S_OK\nSaveToFile S_OK\n"
            "DrawBarGraph S_OK\nDrawXYGraph S_OK\nSaveToFile S_OK\n");
  EXPECT_FALSE(fs::exists(Path("chart.png")));
  EXPECT_FALSE(fs::exists(Path("bar.png")));
  EXPECT_FALSE(fs::exists(Path("xy.png")));
  EXPECT_EQ(fs::file_size(Path("chart.png.bmp")), BmpBytes(640, 300));
  EXPECT_EQ(Norvisk("xy '" + Path("xy.png") + "' '(a;1)(b;2)'").status, 0);
}

TEST_F(CliRun, CommentsBlankLinesAndLineEndings) {
  Result r =
      Run("# a comment\n"
          "\n"
          "   \t \n"
          "  # an indented comment with \"an unterminated quote\n"
          "#AddBarValue nonsense\n"
          "\tCreateBarGraph   \r\n"
          "AddBarBar\t \"a b\"\t\n"
          "\r\n"
          "AddBarValue 1");  // the last line needs no newline
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "CreateBarGraph S_OK\nAddBarBar S_OK\nAddBarValue S_OK\n");

  // Skipped lines still count for the line numbers.
  r = Run("# one\n\nCreateBarGraph\n  # four\nAddBarValue x\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("norvisk: " + Path("s.run") + ":5: ", 0), 0u) << r.err;

  r = Run("");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(r.err.empty());

  // A byte-order mark, as Windows editors begin UTF-8 files, is not part of the first line;
  // anywhere else it is text like any other.
  r =
      Run("\xEF\xBB\xBF"
          "CreateBarGraph\r\nAddBarBar x\r\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "CreateBarGraph S_OK\nAddBarBar S_OK\n");
  r =
      Run("CreateBarGraph\n\xEF\xBB\xBF"
          "Clear\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(":2: unknown method"), std::string::npos) << r.err;
}

TEST_F(CliRun, QuotedTextsAndEscapes) {
  // A file name with blanks and quotes.
  Result r = Run("CreateBarGraph\nAddBarBar x\nSaveToFile \"@/my \\\"best\\\" chart.bmp\"\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("my \"best\" chart.bmp")), BmpBytes(640, 300));

  // Texts drawn in a chart: compared with the same chart from a data string, so the texts the
  // graph got are the ones meant. A backslash is kept as it is outside quotes.
  ASSERT_EQ(Norvisk("bar '" + Path("want.bmp") + "' '(say \"hi\")(a\\b;1)(;2)(x;3)'").status, 0);
  r =
      Run("CreateBarGraph\n"
          "AddBarLegend \"say \\\"hi\\\"\"\n"
          "AddBarBar \"a\\\\b\"\n"
          "AddBarValue 1\n"
          "AddBarBar \"\"\n"
          "AddBarValue 2\n"
          "AddBarBar x\n"
          "AddBarValue 3\n"
          "SaveToFile @/quoted.bmp\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Slurp(Path("quoted.bmp")), Slurp(Path("want.bmp")));
  r =
      Run("CreateBarGraph\n"
          "AddBarLegend \"say \\\"hi\\\"\"\n"
          "AddBarBar a\\b\n"
          "AddBarValue 1\n"
          "AddBarBar \"\"\n"
          "AddBarValue 2\n"
          "AddBarBar \"x\"\n"
          "AddBarValue 3\n"
          "SaveToFile @/bare.bmp\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Slurp(Path("bare.bmp")), Slurp(Path("want.bmp")));
}

TEST_F(CliRun, NumbersAreReadWhole) {
  ASSERT_EQ(Norvisk("bar '" + Path("want.bmp") + "' '(A;B;C;D)(x;150;0.5;-2;7)'").status, 0);
  Result r =
      Run("CreateBarGraph\n"
          "AddBarLegend A\nAddBarLegend B\nAddBarLegend C\nAddBarLegend D\n"
          "AddBarBar x\n"
          "AddBarValue +1.5e2\n"
          "AddBarValue .5\n"
          "AddBarValue -2\n"
          "AddBarValue 7.\n"
          "SaveToFile @/got.bmp\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Slurp(Path("got.bmp")), Slurp(Path("want.bmp")));

  r = Run("CreateXYGraph\nSetWidth +320\nSetHeight 0200\nAddXYValue a 1\nSaveToFile @/s.bmp\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("s.bmp")), BmpBytes(320, 200));
}

TEST_F(CliRun, SizesWithoutAPictureWriteNothingAndDoNotStopTheRun) {
  for (const char* size : {"-5", "-2147483648", "2147483647", "1000000"}) {
    Result r = Run(std::string("CreateBarGraph\nAddBarBar x\nSetWidth ") + size +
                   "\nSaveToFile @/w.bmp\nSaveToFile @/w.jpg\nSetHeight " + size +
                   "\nSaveToFile @/h.bmp\nCreateBarGraph\nSaveToFile @/after.bmp\n");
    EXPECT_EQ(r.status, 0) << size << ": " << r.err;
    EXPECT_EQ(Lines(r.out), 9) << size;
    EXPECT_FALSE(fs::exists(Path("w.bmp"))) << size;
    EXPECT_FALSE(fs::exists(Path("w.jpg"))) << size;
    EXPECT_FALSE(fs::exists(Path("h.bmp"))) << size;
    // A new graph has the object's own size again.
    EXPECT_EQ(fs::file_size(Path("after.bmp")), BmpBytes(640, 300)) << size;
    fs::remove(Path("after.bmp"));
  }
  // A size of 0 lets the background give the canvas its size when it is saved; the run goes on.
  Result r =
      Run("CreateXYGraph\nAddXYValue a 1\nSetWidth 0\nSetHeight 0\nSaveToFile @/z.bmp\n"
          "DrawXYGraph @/after.bmp (a;1)\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), 6);
  EXPECT_EQ(fs::file_size(Path("z.bmp")), BmpBytes(640, 300));
  EXPECT_EQ(fs::file_size(Path("after.bmp")), BmpBytes(640, 300));
  // The background's own size whatever the other side was set to.
  r = Run("CreateBarGraph\nAddBarBar x\nSetHeight 100\nSetWidth 0\nSaveToFile @/w0.bmp\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("w0.bmp")), BmpBytes(640, 300));
}

TEST_F(CliRun, ABadLineStopsTheRunBeforeItAndKeepsWhatWasDone) {
  // Each bad line, with a word its message must hold.
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"addBarValue 1", "unknown method"},
      {"AddBarValues 1", "unknown method"},
      {"\"AddBarValue\" 1", "unknown method"},
      {"AddBarValue", "takes 1 argument"},
      {"AddBarValue 1 2", "takes 1 argument"},
      {"AddXYValue a", "takes 2 arguments"},
      {"DrawBarGraph a.bmp (A)(x;1) extra", "takes 2 arguments"},
      {"Clear now", "takes no arguments"},
      {"CreateBarGraph # a comment only starts a line", "takes no arguments"},
      {"AddBarValue abc", "not a number"},
      {"AddBarValue 12abc", "not a number"},
      {"AddBarValue 1,5", "not a number"},
      {"AddBarValue inf", "not a number"},
      {"AddBarValue -infinity", "not a number"},
      {"AddBarValue nan", "not a number"},
      {"AddBarValue 0x1A", "not a number"},
      {"AddBarValue 1d2", "not a number"},
      {"AddBarValue ++1", "not a number"},
      {"AddBarValue +-1", "not a number"},
      {"AddBarValue +", "not a number"},
      {"AddBarValue \"1\"", "not a number"},
      {"AddXYValue 1 a", "not a number"},
      {"AddBarValue 1e999", "out of range"},
      {"SetWidth 1.0", "not a whole number"},
      {"SetWidth 12px", "not a whole number"},
      {"SetHeight 1e3", "not a whole number"},
      {"SetWidth 2147483648", "out of range"},
      {"SetHeight -2147483649", "out of range"},
      {"AddBarBar \"abc", "unterminated quote"},
      {"AddBarBar \"abc\\\"", "unterminated quote"},
      {"AddBarBar \"a\\nb\"", "bad escape"},
      {"AddBarBar \"a\\'b\"", "bad escape"},
      {"AddBarBar a\"b", "quote"},
      {"AddBarBar \"a\"b", "quote"},
  };
  for (const auto& [line, why] : bad) {
    fs::remove(Path("second.bmp"));
    Result r =
        Run("CreateBarGraph\n"
            "AddBarBar x\n"
            "AddBarValue 1\n"
            "SaveToFile @/first.bmp\n" +
            line +
            "\n"
            "SetWidth 100\n"
            "SaveToFile @/first.bmp\n"
            "SaveToFile @/second.bmp\n");
    EXPECT_EQ(r.status, 2) << line;
    EXPECT_EQ(Lines(r.err), 1) << line << ": " << r.err;
    EXPECT_EQ(r.err.rfind("norvisk: " + Path("s.run") + ":5: ", 0), 0u) << line << ": " << r.err;
    EXPECT_NE(r.err.find(why), std::string::npos) << line << ": " << r.err;
    // The four lines before it ran, nothing after it did.
    EXPECT_EQ(r.out, "CreateBarGraph S_OK\nAddBarBar S_OK\nAddBarValue S_OK\nSaveToFile S_OK\n")
        << line;
    EXPECT_EQ(fs::file_size(Path("first.bmp")), BmpBytes(640, 300)) << line;
    EXPECT_FALSE(fs::exists(Path("second.bmp"))) << line;
  }
}

TEST_F(CliRun, LinesThatAreNotTextDoNotCrash) {
  std::string junk("AddBarBar \"\x00\xff\xfe\"\n\x01\x02\x03\n", 20);
  Result r = Run(junk);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(":2: unknown method \"\\x01\\x02\\x03\""), std::string::npos) << r.err;
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_EQ(r.out, "AddBarBar S_FALSE\n");

  // A long label and a long data string are read whole.
  std::string label(100000, 'w');
  std::string data = "(A)";
  for (int i = 0; i < 2000; ++i) data += "(b" + std::to_string(i) + ";" + std::to_string(i) + ")";
  r = Run("CreateXYGraph\nAddXYValue \"" + label + "\" 1\nSaveToFile @/long.bmp\n" +
          "DrawBarGraph @/many.bmp " + data + "\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("long.bmp")), BmpBytes(640, 300));
  EXPECT_EQ(fs::file_size(Path("many.bmp")), BmpBytes(640, 300));
}

TEST_F(CliRun, StandardInput) {
  const std::string script = "CreateBarGraph\nAddBarBar x\nSaveToFile " + Path("in.bmp") + "\n";
  Result r = Norvisk("run - --trace", script);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "CreateBarGraph S_OK\nAddBarBar S_OK\nSaveToFile S_OK\n");
  EXPECT_TRUE(fs::exists(Path("in.bmp")));
  fs::remove(Path("in.bmp"));

  r = Norvisk("run --trace", script);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), 3);
  EXPECT_TRUE(fs::exists(Path("in.bmp")));

  r = Norvisk("run", "Clear\nClear 1\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("norvisk: <stdin>:2: ", 0), 0u) << r.err;
  r = Norvisk("run -");  // empty standard input: nothing to do
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.err.empty());
}

TEST_F(CliRun, AScriptThatCannotBeReadIsStatusOne) {
  fs::create_directories(Path("folder"));
  for (const std::string& script : {Path("missing.run"), Path("folder")}) {
    Result r = Norvisk("run '" + script + "' --trace");
    EXPECT_EQ(r.status, 1) << script;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_EQ(r.err.rfind("norvisk: " + script + ": ", 0), 0u) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
}

TEST_F(CliRun, UsageErrorsRunNothing) {
  const std::string script = Script("CreateBarGraph\nSaveToFile @/made.bmp\n");
  for (const std::string& args :
       {"run '" + script + "' --com", "run --com '" + script + "' --trace",
        "run '" + script + "' '" + script + "'", "run '" + script + "' --tracing",
        "run '" + script + "' -t"}) {
    Result r = Norvisk(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_TRUE(r.out.empty()) << args;
    EXPECT_FALSE(fs::exists(Path("made.bmp"))) << args;
  }
  EXPECT_NE(Norvisk("run '" + script + "' --com").err.find("--com needs the Windows build"),
            std::string::npos);
}

}  // namespace
