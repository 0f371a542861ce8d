// The norvisk command run as a process: outputs, messages and exit statuses.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
  std::string err;
};

// Runs the command through the shell with stdout and stderr kept apart.
Result Norvisk(const std::string& args, const std::string& input = "") {
  fs::path dir = fs::temp_directory_path() / ("norvisk-cli-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string command = std::string("'") + NORVISK_BINARY + "' " + args + " >'" +
                        (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
  if (!input.empty()) {
    std::ofstream(dir / "in", std::ios::binary) << input;
    command += " <'" + (dir / "in").string() + "'";
  } else {
    command += " </dev/null";
  }
  int raw = std::system(command.c_str());
  auto slurp = [](const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  };
  return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir / "out"), slurp(dir / "err")};
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("norvisk-cli-out-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) { return (dir / name).string(); }
  fs::path dir;
};

const char* kFour = "'(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)'";

TEST_F(Cli, BarWritesBmpAndJpegChosenByTheName) {
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
  EXPECT_EQ(r.out, "{\"legends\":[\"A\"],\"bars\":[{\"name\":\"x\",\"values\":[1]}],\"maxTotal\":1}\n");
}

TEST_F(Cli, NotWrittenIsStatusOneWithOneLineSayingWhy) {
  for (const std::string& args :
       {"bar '" + Path("chart.BMP") + "' '(A)(x;1)'",
        "bar '" + Path("chart.jpeg") + "' '(A)(x;1)'",
        "bar '" + Path("no/such/folder/c.jpg") + "' '(A)(x;1)'",
        "bar '" + Path("no/such/folder/c.bmp") + "' '(A)(x;1)'",
        "bar '" + Path("z.bmp") + "' '(A)(x;1)' --width 0",
        "bar '" + Path("z.bmp") + "' '(A)(x;1)' --width 100000 --height 100000"}) {
    Result r = Norvisk(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("norvisk: ", 0), 0u) << r.err;
  }
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(Cli, UsageErrorsAreStatusTwo) {
  for (const std::string& args :
       {std::string(""), std::string("frobnicate"), std::string("bar"),
        "bar '" + Path("a.bmp") + "'", "bar '" + Path("a.bmp") + "' d extra",
        "bar '" + Path("a.bmp") + "' d --width", "bar '" + Path("a.bmp") + "' d --width 12px",
        "bar '" + Path("a.bmp") + "' d --colour red", std::string("parse"),
        std::string("parse pie '(A)'"), std::string("parse bar")}) {
    Result r = Norvisk(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_FALSE(r.err.empty()) << args;
  }
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(Cli, HelpAndVersion) {
  Result help = Norvisk("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("norvisk bar OUTPUT DATA"), std::string::npos);
  EXPECT_NE(help.out.find("norvisk parse bar DATA"), std::string::npos);
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

}  // namespace
