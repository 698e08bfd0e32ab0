// Whether standard output is a terminal (a live display) or a pipe or file (plain lines).
#pragma once

namespace ptcan {

class Terminal {
  public:
    static bool stdoutIsTerminal();
};

}  // namespace ptcan
