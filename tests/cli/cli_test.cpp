// The norvisk command run as a process: bar and xy charts, parse, help, exit statuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli_process.h"

namespace {

using namespace norvisk_cli_test;

const char* kFour = "'(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)'";

// Width and height from the IHDR of a PNG with its signature; 0 x 0 when it has none.
std::pair<int, int> PngSize(const std::string& file) {
  if (file.size() < 33 || file.compare(0, 16, "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) != 0)
    return {0, 0};
  auto be32 = [&](std::size_t at) {
    int v = 0;
    for (std::size_t k = at; k < at + 4; ++k) v = v << 8 | static_cast<unsigned char>(file[k]);
    return v;
  };
  return {be32(16), be32(20)};
}

TEST_F(Cli, BarWritesBmpJpegAndPngChosenByTheName) {
  Result r = Norvisk("bar '" + Path("a.bmp") + "' " + kFour);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(r.err.empty());
  EXPECT_EQ(fs::file_size(Path("a.bmp")), 576054u);

  r = Norvisk("bar '" + Path("a.jpg") + "' " + kFour);
  EXPECT_EQ(r.status, 0) << r.err;
  std::ifstream f(Path("a.jpg"), std::ios::binary);
  unsigned char soi[2] = {};
  f.read(reinterpret_cast<char*>(soi), 2);
  EXPECT_EQ(soi[0], 0xFF);
  EXPECT_EQ(soi[1], 0xD8);

  // ".png" anywhere, once neither ".bmp" nor ".jpg" is in the name.
  r = Norvisk("bar '" + Path("a.png") + "' " + kFour);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(r.err.empty());
  EXPECT_EQ(PngSize(Slurp(Path("a.png"))), std::make_pair(640, 300));
  r = Norvisk("bar '" + Path("b.png.old") + "' " + kFour);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Slurp(Path("b.png.old")), Slurp(Path("a.png")));
  // The earlier rules win: every name that wrote a bitmap or a JPEG still does.
  r = Norvisk("bar '" + Path("c.png.bmp") + "' " + kFour);
  EXPECT_EQ(fs::file_size(Path("c.png.bmp")), 576054u);
  r = Norvisk("bar '" + Path("d.png.jpg") + "' " + kFour);
  EXPECT_EQ(Slurp(Path("d.png.jpg")), Slurp(Path("a.jpg")));
}

TEST_F(Cli, WidthAndHeightResizeTheChart) {
  Result r = Norvisk("bar '" + Path("w.bmp") + "' " + kFour + " --width 641 --height 300");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("w.bmp")), 577254u);
  r = Norvisk("bar --height 10 '" + Path("h.bmp") + "' '(A)(x;1)'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("h.bmp")), 54u + 1920u * 10u);
}

TEST_F(Cli, DataFromStandardInput) {
  Result r = Norvisk("bar '" + Path("in.bmp") + "' -", "(A;B)(x;1;2)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(Path("in.bmp")));
  r = Norvisk("parse bar -", "(A)(x;1)");
  EXPECT_EQ(r.out,
            "{\"legends\":[\"A\"],\"bars\":[{\"name\":\"x\",\"values\":[1]}],\"maxTotal\":1}\n");
}

TEST_F(Cli, NotWrittenIsStatusOneWithOneLineSayingWhy) {
  // The same reasons for both kinds; the data reads as a bar chart and as one XY point.
  for (const std::string kind : {"bar", "xy"}) {
    for (const std::string& args :
         {kind + " '" + Path("chart.BMP") + "' '(A;1)(x;1)'",
          kind + " '" + Path("chart.jpeg") + "' '(A;1)(x;1)'",
          kind + " '" + Path("OUT.PNG") + "' '(A;1)(x;1)'",
          kind + " '" + Path("chart.gif") + "' '(A;1)(x;1)'",
          kind + " '" + Path("chart_png") + "' '(A;1)(x;1)'",
          kind + " '" + Path("no/such/folder/c.png") + "' '(A;1)(x;1)'",
          kind + " '" + Path("z.png") + "' '(A;1)(x;1)' --width 0",
          kind + " '" + Path("z.png") + "' '(A;1)(x;1)' --width 100000 --height 100000",
          kind + " '" + Path("no/such/folder/c.jpg") + "' '(A;1)(x;1)'",
          kind + " '" + Path("no/such/folder/c.bmp") + "' '(A;1)(x;1)'",
          kind + " '" + Path("z.bmp") + "' '(A;1)(x;1)' --width 0",
          kind + " '" + Path("z.bmp") + "' '(A;1)(x;1)' --height -3",
          kind + " '" + Path("z.bmp") + "' '(A;1)(x;1)' --width 100000 --height 100000",
          kind + " '" + Path("z.jpg") + "' '(A;1)(x;1)' --width 2147483647"}) {
      Result r = Norvisk(args);
      EXPECT_EQ(r.status, 1) << args;
      EXPECT_EQ(Lines(r.err), 1) << r.err;
      EXPECT_EQ(r.err.rfind("norvisk: ", 0), 0u) << r.err;
      EXPECT_TRUE(r.out.empty()) << args;
    }
  }
  EXPECT_TRUE(fs::is_empty(dir));
}

// Width and height from the SOF0 segment of a baseline JPEG; 0 x 0 when there is none.
std::pair<int, int> JpegSize(const std::string& file) {
  for (std::size_t i = 2; i + 9 < file.size();) {
    if (static_cast<unsigned char>(file[i]) != 0xFF) break;
    unsigned marker = static_cast<unsigned char>(file[i + 1]);
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(file[k]); };
    if (marker == 0xC0) return {byte(i + 7) << 8 | byte(i + 8), byte(i + 5) << 8 | byte(i + 6)};
    i += 2 + (byte(i + 2) << 8 | byte(i + 3));
  }
  return {0, 0};
}

const char* kHalfYear = "'(Jan;10)(Feb;20)(Mar;15)(Apr;12)(May;18)(Jun;25)'";

TEST_F(Cli, XyWritesBmpAndJpegOfTheRequestedSize) {
  Result r = Norvisk("xy '" + Path("a.bmp") + "' " + kHalfYear);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(r.err.empty());
  EXPECT_EQ(fs::file_size(Path("a.bmp")), BmpBytes(640, 300));
  EXPECT_EQ(Slurp(Path("a.bmp")).substr(0, 2), "BM");

  r = Norvisk("xy '" + Path("a.jpg") + "' " + kHalfYear);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(JpegSize(Slurp(Path("a.jpg"))), std::make_pair(640, 300));

  r = Norvisk("xy --width 321 '" + Path("b.bmp") + "' " + kHalfYear + " --height 123");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("b.bmp")), BmpBytes(321, 123));
  r = Norvisk("xy '" + Path("b.jpg") + "' - --height 450", "(a;1)(b;2)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(JpegSize(Slurp(Path("b.jpg"))), std::make_pair(640, 450));
  r = Norvisk("xy --width 333 '" + Path("c.png") + "' - --height 201", "(a;1)(b;2)");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(PngSize(Slurp(Path("c.png"))), std::make_pair(333, 201));
}

TEST_F(Cli, XyAndBarDrawDifferentCharts) {
  // The same text read as the other kind gives another picture: the kind is really chosen.
  ASSERT_EQ(Norvisk("xy '" + Path("x.bmp") + "' '(a;1)(b;2)'").status, 0);
  ASSERT_EQ(Norvisk("bar '" + Path("b.bmp") + "' '(a;1)(b;2)'").status, 0);
  EXPECT_EQ(fs::file_size(Path("x.bmp")), fs::file_size(Path("b.bmp")));
  EXPECT_NE(Slurp(Path("x.bmp")), Slurp(Path("b.bmp")));
}

TEST_F(Cli, XyWithoutAPointWritesNothing) {
  // No ";" after the first character means no point, whatever else the text holds.
  for (const std::string data : {"", "(Jan)(Feb)", "(Jan 10)(Feb 20)", "x"}) {
    for (const std::string name : {"p.bmp", "p.jpg", "p.png"}) {
      Result r = Norvisk("xy '" + Path(name) + "' '" + data + "'");
      EXPECT_EQ(r.status, 1) << data;
      EXPECT_EQ(Lines(r.err), 1) << r.err;
      EXPECT_NE(r.err.find("no point"), std::string::npos) << r.err;
    }
  }
  Result r = Norvisk("xy '" + Path("p.bmp") + "' -", "(Jan)");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(Cli, UsageErrorsAreStatusTwo) {
  for (const std::string& args : {std::string(""),
                                  std::string("frobnicate"),
                                  std::string("bar"),
                                  "bar '" + Path("a.bmp") + "'",
                                  "bar '" + Path("a.bmp") + "' d extra",
                                  "bar '" + Path("a.bmp") + "' d --width",
                                  "bar '" + Path("a.bmp") + "' d --width 12px",
                                  "bar '" + Path("a.bmp") + "' d --colour red",
                                  std::string("parse"),
                                  std::string("parse pie '(A)'"),
                                  std::string("parse bar"),
                                  std::string("xy"),
                                  "xy '" + Path("a.bmp") + "'",
                                  "xy '" + Path("a.bmp") + "' '(a;1)' extra",
                                  "xy '" + Path("a.bmp") + "' '(a;1)' --height",
                                  "xy '" + Path("a.bmp") + "' '(a;1)' --width 1e3",
                                  "xy '" + Path("a.bmp") + "' '(a;1)' --width 99999999999",
                                  "xy '" + Path("a.bmp") + "' '(a;1)' -v",
                                  std::string("parse xy"),
                                  std::string("parse xy '(a;1)' '(b;2)'"),
                                  std::string("parse XY '(a;1)'"),
                                  std::string("XY a.bmp '(a;1)'"),
                                  std::string("--help extra"),
                                  std::string("-h --version"),
                                  std::string("--version extra"),
                                  "bar -- '" + Path("a.bmp") + "' d --width",
                                  "bar '" + Path("a.bmp") + "' -5",
                                  std::string("parse bar -- -- x")}) {
    Result r = Norvisk(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(Lines(r.err), 1) << args << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << args;
  }
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(Cli, HelpAndVersion) {
  Result help = Norvisk("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.err.empty());
  for (const char* usage :
       {"norvisk bar OUTPUT DATA", "norvisk xy OUTPUT DATA", "norvisk parse bar|xy DATA",
        "\".png\"", "norvisk run [SCRIPT|-] [--trace] [--com]", "norvisk --help",
        "norvisk --version", "Exit status: 0", "\n1 ", "\n2 "})
    EXPECT_NE(help.out.find(usage), std::string::npos) << usage;
  // Every subcommand shows one way to use it.
  for (const char* example : {"Example: norvisk bar ", "Example: norvisk xy ",
                              "Example: norvisk parse ", "Example: norvisk run "})
    EXPECT_NE(help.out.find(example), std::string::npos) << example;
  Result version = Norvisk("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("norvisk ", 0), 0u);
}

TEST_F(Cli, ParsePrintsTheDataAsJson) {
  Result r = Norvisk("parse bar '(Q1;Q2)(North;10;0.1)(South;-1.5e2;1d400)'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "{\"legends\":[\"Q1\",\"Q2\"],\"bars\":[{\"name\":\"North\",\"values\":[10,0.1]},"
            "{\"name\":\"South\",\"values\":[-150,1e999]}],\"maxTotal\":1e999}\n");
  r = Norvisk("parse bar ''");
  EXPECT_EQ(r.out, "{\"legends\":[\"\"],\"bars\":[],\"maxTotal\":0}\n");
  // Quotes, backslashes, control characters and bytes that are not UTF-8 come out as JSON text.
  r = Norvisk("parse bar -", "(a\"b\\c\tx\xe9)(\xc3\xa9;1)");
  EXPECT_EQ(r.out,
            "{\"legends\":[\"a\\\"b\\\\c\\u0009x\xc3\xa9\"],\"bars\":[{\"name\":\"\xc3\xa9\","
            "\"values\":[1]}],\"maxTotal\":1}\n");
}

TEST_F(Cli, ParseXyPrintsThePointsAsJson) {
  Result r = Norvisk("parse xy " + std::string(kHalfYear));
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.err.empty());
  EXPECT_EQ(r.out,
            "{\"points\":[{\"label\":\"Jan\",\"value\":10},{\"label\":\"Feb\",\"value\":20},"
            "{\"label\":\"Mar\",\"value\":15},{\"label\":\"Apr\",\"value\":12},"
            "{\"label\":\"May\",\"value\":18},{\"label\":\"Jun\",\"value\":25}],"
            "\"min\":10,\"max\":25}\n");

  // Labels keep their brackets: a label runs to the next ";".
  r = Norvisk("parse xy '(f(x);0.1)(g) (b;-1.5e2)'");
  EXPECT_EQ(r.out,
            "{\"points\":[{\"label\":\"f(x)\",\"value\":0.1},{\"label\":\"g) (b\","
            "\"value\":-150}],\"min\":-150,\"max\":0.1}\n");
  // One character after each ")" is skipped, so a blank there makes "(b" a label; the last
  // number runs to the end when no ")" closes it.
  r = Norvisk("parse xy '(a;1) (b;-1.5e2)(c;1d400'");
  EXPECT_EQ(r.out,
            "{\"points\":[{\"label\":\"a\",\"value\":1},{\"label\":\"(b\",\"value\":-150},"
            "{\"label\":\"c\",\"value\":1e999}],\"min\":-150,\"max\":1e999}\n");

  // No point: no min and max, which would mean nothing.
  for (const char* data : {"''", "'(Jan)(Feb)'", "'('"}) {
    r = Norvisk(std::string("parse xy ") + data);
    EXPECT_EQ(r.status, 0) << data;
    EXPECT_EQ(r.out, "{\"points\":[]}\n") << data;
  }

  // Numbers read back exactly; labels are JSON text.
  r = Norvisk("parse xy -", "(q\"t\\\x01;0.30000000000000004)(\xe9;-2)");
  EXPECT_EQ(r.out,
            "{\"points\":[{\"label\":\"q\\\"t\\\\\\u0001\",\"value\":0.30000000000000004},"
            "{\"label\":\"\xc3\xa9\",\"value\":-2}],\"min\":-2,\"max\":0.30000000000000004}\n");
}

TEST_F(Cli, DoubleDashEndsTheOptions) {
  // OUTPUT and DATA that begin with "-"; the options before "--" still count.
  Result r = Norvisk("bar -- -chart.bmp '(Q1)(North;10)'", "", "", dir.string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("-chart.bmp")), BmpBytes(640, 300));
  r = Norvisk("xy --width 320 -- -small.bmp -5", "", "", dir.string());
  EXPECT_EQ(r.status, 1) << "\"-5\" holds no point";
  r = Norvisk("xy --width 320 -- -small.bmp '-a;-5)(b;5)'", "", "", dir.string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("-small.bmp")), BmpBytes(320, 300));
  r = Norvisk("parse bar -- -5");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "{\"legends\":[\"5\"],\"bars\":[],\"maxTotal\":0}\n");
  r = Norvisk("parse -- xy '-a;-5)'");
  EXPECT_EQ(r.out, "{\"points\":[{\"label\":\"a\",\"value\":-5}],\"min\":-5,\"max\":-5}\n");
  // "-" is still standard input.
  r = Norvisk("parse bar -- -", "(A)(x;1)");
  EXPECT_EQ(r.out,
            "{\"legends\":[\"A\"],\"bars\":[{\"name\":\"x\",\"values\":[1]}],\"maxTotal\":1}\n");
  // A script whose name begins with "-".
  WriteFile(dir / "-s.run", "CreateBarGraph\nSaveToFile s.bmp\n");
  r = Norvisk("run --trace -- -s.run", "", "", dir.string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "CreateBarGraph S_OK\nSaveToFile S_OK\n");
  EXPECT_TRUE(fs::exists(Path("s.bmp")));
}

TEST_F(Cli, DevicesAndPipesAreWrittenAsTheyAre) {
  // Through a name with an extension: /dev/stdout when it is a pipe, and when it is a file.
  ASSERT_EQ(symlink("/dev/stdout", Path("out.bmp").c_str()), 0);
  const std::string command =
      std::string("'") + NORVISK_BINARY + "' bar '" + Path("out.bmp") + "' '(A)(x;1)' </dev/null";
  ASSERT_EQ(std::system((command + " | cat >'" + Path("piped") + "'").c_str()), 0);
  EXPECT_EQ(fs::file_size(Path("piped")), BmpBytes(640, 300));
  ASSERT_EQ(std::system((command + " >'" + Path("redirected") + "'").c_str()), 0);
  EXPECT_EQ(Slurp(Path("redirected")), Slurp(Path("piped")));
  EXPECT_TRUE(fs::is_symlink(Path("out.bmp")));
  // A device that takes nothing more: not written, and the device is still there.
  ASSERT_EQ(symlink("/dev/full", Path("full.jpg").c_str()), 0);
  Result r = Norvisk("bar '" + Path("full.jpg") + "' '(A)(x;1)'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_symlink(Path("full.jpg")));
}

TEST_F(Cli, InputThatCannotBeReadIsStatusOneWithOneLine) {
  // A folder as standard input: reading it fails (EISDIR).
  fs::create_directory(Path("folder"));
  for (const std::string& args : {"bar '" + Path("s.bmp") + "' -", "xy '" + Path("s.jpg") + "' -",
                                  std::string("parse bar -"), std::string("parse xy -")}) {
    Result r = Norvisk(args, "", "<'" + Path("folder") + "'");
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("cannot read the data from standard input: Is a directory"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(r.out.empty()) << args;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(Cli, OutputThatCannotBeWrittenIsStatusOneWithOneLine) {
  for (const char* args : {"parse bar x", "parse xy '(a;1)'", "--version", "--help"}) {
    for (const char* output : {">/dev/full", ">&-"}) {
      Result r = Norvisk(args, "", output);
      EXPECT_EQ(r.status, 1) << args << " " << output;
      EXPECT_EQ(Lines(r.err), 1) << args << " " << output << ": " << r.err;
      EXPECT_EQ(r.err.rfind("norvisk: cannot write to standard output: ", 0), 0u) << r.err;
    }
  }
}

TEST_F(Cli, MessagesAreOneLineWhateverTheNamesHold) {
  // A newline, a carriage return, a tab and another control byte in the file name.
  const std::string name = Path("a\nb\r\t\x01.bmp");
  for (const std::string& args :
       {"bar '" + name + "' '(A)(x;1)' --width 0", "xy '" + name + "' '(A)'"}) {
    Result r = Norvisk(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("a\\nb\\r\\t\\x01.bmp"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
  }
  // In a folder that does not exist: the reason from the system, on the same line.
  Result r = Norvisk("bar '" + Path("no\nfolder/c.bmp") + "' '(A)(x;1)'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find("no\\nfolder/c.bmp: not written: No such file or directory"),
            std::string::npos)
      << r.err;
  // Usage errors and script names alike.
  r = Norvisk("bar '" + Path("u.bmp") + "' d '--x\ny'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find("unknown option --x\\ny"), std::string::npos) << r.err;
  WriteFile(dir / "s\n.run", "Clear\nFrob\x7fnicate\n");
  r = Norvisk("run '" + Path("s\n.run") + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(Lines(r.err), 1) << r.err;
  EXPECT_NE(r.err.find("s\\n.run:2: unknown method \"Frob\\x7fnicate\""), std::string::npos)
      << r.err;
}

TEST_F(Cli, ParseSkipsAWholeFirstCharacter) {
  // Texts are UTF-8: the skipped character is its whole sequence, of two, three or four bytes,
  // at the front of the string, before each bar group and after each ")" of XY data.
  for (const std::string first : {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"}) {
    SCOPED_TRACE(first.size());
    Result r = Norvisk("parse bar '" + first + "Q1;Q2)" + first + "North;10)'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"legends\":[\"Q1\",\"Q2\"],\"bars\":[{\"name\":\"North\",\"values\":[10]}],"
              "\"maxTotal\":10}\n");
    r = Norvisk("parse xy '" + first + "a;1)" + first + "b;2)'");
    EXPECT_EQ(r.out,
              "{\"points\":[{\"label\":\"a\",\"value\":1},{\"label\":\"b\",\"value\":2}],"
              "\"min\":1,\"max\":2}\n");
  }
  // A byte that begins no valid sequence is a character of its own.
  Result r = Norvisk("parse bar -", "\xe2\x82Q1)(x;1)");
  EXPECT_EQ(r.out,
            "{\"legends\":[\"\xc2\x82Q1\"],\"bars\":[{\"name\":\"x\",\"values\":[1]}],"
            "\"maxTotal\":1}\n");
  r = Norvisk("parse xy -", "\xffQ1;1)");
  EXPECT_EQ(r.out, "{\"points\":[{\"label\":\"Q1\",\"value\":1}],\"min\":1,\"max\":1}\n");
}

}  // namespace
