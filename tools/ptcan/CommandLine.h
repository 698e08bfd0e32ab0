// ptcan's command line, parsed with CLI11: `ptcan LIBRARY COMMAND [OPTIONS]`. Parsing checks
// every argument (frame texts, identifiers, filters) before the library is loaded, so bad usage
// always ends with exit status 2.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/ptcan/Commands.h"

namespace ptcan {

class CommandLine {
  public:
    CommandLine();

    // The exit status when the program ends here (0 after --help, 2 on bad usage); none when
    // the command is ready to run.
    std::optional<int> parse(int argc, char** argv);

    const std::string& libraryPath() const { return libraryPath_; }
    int run(PassThruLibrary& library) { return command_(library); }

  private:
    using Command = std::function<int(PassThruLibrary&)>;

    void addOpenAndInfo();
    void addDump();
    void addSend();
    void addGen();
    void addPlay();
    void addIsoTp();
    void addObdAndLoad();

    // Turns the option texts of the chosen command into its options; throws
    // CLI::ValidationError on a bad one.
    Command prepareDump();
    Command prepareSend();
    Command prepareGen();
    Command prepareIsoTp();

    CLI::App app_;
    std::string libraryPath_;
    CommonOptions common_;
    std::map<std::string, std::function<Command()>> prepare_;
    Command command_;

    std::vector<std::string> filterTexts_;
    std::vector<std::string> frameTexts_;
    std::string genId_ = "r";
    std::string genLength_ = "r";
    std::string genData_ = "r";
    std::string isoTx_;
    std::string isoRx_;
    std::vector<std::string> hexTexts_;
    DumpOptions dump_;
    GenOptions gen_;
    PlayOptions play_;
    IsoTpOptions isotp_;
    LoadOptions load_;
    bool obdRawCan_ = false;
};

}  // namespace ptcan
