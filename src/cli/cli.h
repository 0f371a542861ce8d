// What the parts of the norvisk command share: exit statuses and messages.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace norvisk::cli {

constexpr int kWritten = 0;     // the file was written, the JSON printed, the script ran
constexpr int kNotWritten = 1;  // it was not; one line on stderr says why
constexpr int kUsage = 2;       // the command line or a script line could not be used

// Prints "norvisk: <why> (see norvisk --help)" on stderr and returns kUsage.
int Usage(std::string_view why);
// Prints "norvisk: <why>" on stderr and returns kNotWritten.
int Fail(std::string_view why);
// `text` with its control bytes written as \n, \r, \t or \xNN: names and script text in a
// message keep it one line.
std::string OneLine(std::string_view text);
// All of `file` into `text`; false (errno says why) when it could not be read.
bool ReadAll(std::FILE* file, std::string* text);
// Standard output written out: `status`, or kNotWritten and one line saying why when it could
// not be (a full disk, a closed stream).
int FinishOutput(int status);

// The `run` command: argv[2..] are its arguments.
int RunCommand(int argc, char** argv);

}  // namespace norvisk::cli
