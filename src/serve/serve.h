// `norvisk serve`: the HTTP chart service, entered from the command.
#pragma once

namespace norvisk::serve {

// argv[1] is "serve". Returns the process exit status.
int ServeCommand(int argc, char** argv);

}  // namespace norvisk::serve
