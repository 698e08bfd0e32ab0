#include "tools/ptcan/CommandLine.h"

#include "tools/ptcan/FrameText.h"

namespace ptcan {

namespace {
const CLI::Validator kFrameText(
    [](std::string& text) {
        return FrameText::parse(text) ? std::string() : "not a frame (ID#DATA): " + text;
    },
    "ID#DATA");

std::vector<Frame> framesOf(const std::vector<std::string>& texts) {
    std::vector<Frame> frames;
    for (const std::string& text : texts) {
        frames.push_back(*FrameText::parse(text));
    }
    return frames;
}

uint32_t idOf(const std::string& text, bool extended, const char* what) {
    const std::optional<FrameText::Id> id = FrameText::parseId(text, extended);
    if (!id) {
        throw CLI::ValidationError(what, "not a CAN identifier: " + text);
    }
    return id->value;
}
}  // namespace

CommandLine::CommandLine() : app_("ptcan: CAN through any J2534 library, loaded by path") {
    app_.name("ptcan");
    // Options take dashes on every platform, as can-utils' do. CLI11 would take an argument that
    // starts with '/' for an option on Windows, but there it is a path (a Unix one under Wine).
    app_.allow_windows_style_options(false);
    app_.add_option("LIBRARY", libraryPath_, "the J2534 library (.so or .dll)")->required();
    app_.add_option("-b,--bitrate", common_.bitrate, "bit rate (default 500000)");
    app_.add_flag("-x,--extended", common_.extended, "29-bit identifiers");
    app_.require_subcommand(1);
    addOpenAndInfo();
    addDump();
    addSend();
    addGen();
    addPlay();
    addIsoTp();
    addObdAndLoad();
    // -b and -x may come after the command too.
    for (CLI::App* sub : app_.get_subcommands({})) {
        sub->fallthrough();
    }
}

std::optional<int> CommandLine::parse(int argc, char** argv) {
    try {
        app_.parse(argc, argv);
        const std::string name = app_.get_subcommands().front()->get_name();
        command_ = prepare_.at(name)();
        return std::nullopt;
    } catch (const CLI::CallForHelp& help) {
        return app_.exit(help);
    } catch (const CLI::ParseError& error) {
        app_.exit(error);
        return 2;
    }
}

void CommandLine::addOpenAndInfo() {
    app_.add_subcommand("open", "open the device, report its ID, close it again");
    prepare_["open"] = [this] {
        return [this](PassThruLibrary& library) { return runOpen(library, libraryPath_); };
    };
    app_.add_subcommand("info", "versions, termination resistor, supported protocols");
    prepare_["info"] = [this] {
        return [this](PassThruLibrary& library) { return runInfo(library, common_); };
    };
}

void CommandLine::addDump() {
    CLI::App* dump = app_.add_subcommand("dump", "print received frames in candump log format");
    dump->add_option("-f,--filter", filterTexts_, "pass filter ID:MASK (hex), repeatable");
    dump->add_option("-l,--log", dump_.logFile, "also write the log to FILE");
    dump->add_flag("-L,--loopback", dump_.loopback, "loopback on; own frames marked T");
    dump->add_option("-s,--send", frameTexts_, "send ID#DATA once listening, repeatable")
        ->check(kFrameText);
    dump->add_option("-n,--count", dump_.count, "end after COUNT frames");
    dump->add_option("-T,--timeout", dump_.idleTimeoutMs, "end after MS without a frame");
    prepare_["dump"] = [this] { return prepareDump(); };
}

CommandLine::Command CommandLine::prepareDump() {
    for (const std::string& text : filterTexts_) {
        const std::optional<PassFilter> filter = FrameText::parseFilter(text, common_.extended);
        if (!filter) {
            throw CLI::ValidationError("--filter", "not ID:MASK: " + text);
        }
        dump_.filters.push_back(*filter);
    }
    dump_.send = framesOf(frameTexts_);
    return [this](PassThruLibrary& library) { return runDump(library, common_, dump_); };
}

void CommandLine::addSend() {
    CLI::App* send = app_.add_subcommand("send", "send one or more frames");
    send->add_option("FRAME", frameTexts_, "ID#DATA (29-bit with more than 3 ID digits)")
        ->required()
        ->check(kFrameText);
    prepare_["send"] = [this] { return prepareSend(); };
}

CommandLine::Command CommandLine::prepareSend() {
    return [this, frames = framesOf(frameTexts_)](PassThruLibrary& library) {
        return runSend(library, common_, frames);
    };
}

void CommandLine::addGen() {
    CLI::App* gen = app_.add_subcommand("gen", "generate frames, as cangen does");
    gen->add_option("-g,--gap", gen_.gapMs, "milliseconds between frames (default 200)");
    gen->add_option("-I,--id", genId_, "identifier: hex, i (incrementing) or r (random)");
    gen->add_option("-L,--length", genLength_, "data length: 0..8 or r (random)");
    gen->add_option("-D,--data", genData_, "data: hex, i (incrementing) or r (random)");
    gen->add_option("-n,--count", gen_.count, "end after COUNT frames");
    gen->add_option("-l,--log", gen_.logFile, "log the frames sent (loopback copies) to FILE");
    gen->add_flag("-v,--verbose", gen_.verbose, "print the frames sent (loopback copies)");
    prepare_["gen"] = [this] { return prepareGen(); };
}

CommandLine::Command CommandLine::prepareGen() {
    const auto settings = FrameGenerator::fromText(genId_, genLength_, genData_, common_.extended);
    if (!settings) {
        throw CLI::ValidationError("gen", "bad -I, -L or -D value");
    }
    gen_.settings = *settings;
    return [this](PassThruLibrary& library) { return runGen(library, common_, gen_); };
}

void CommandLine::addPlay() {
    CLI::App* play = app_.add_subcommand("play", "replay a candump log with its timing");
    play->add_option("FILE", play_.file, "candump log")->required();
    play->add_option("-l,--loops", play_.loops, "play the log this many times (default 1)");
    play->add_flag("-v,--verbose", play_.verbose, "print the frames sent (loopback copies)");
    prepare_["play"] = [this] {
        return [this](PassThruLibrary& library) { return runPlay(library, common_, play_); };
    };
}

void CommandLine::addIsoTp() {
    CLI::App* isotp = app_.add_subcommand("isotp", "one ISO 15765 request and its answer");
    isotp->add_option("-s,--source", isoTx_, "identifier the request (and flow control) goes to")
        ->required();
    isotp->add_option("-d,--dest", isoRx_, "identifier the answer comes from")->required();
    isotp->add_flag("-p,--pad", isotp_.pad, "pad frames to 8 bytes");
    isotp->add_option("-t,--timeout", isotp_.timeoutMs, "wait for the answer (ms, default 2000)");
    isotp->add_option("HEX", hexTexts_, "the request's bytes, e.g. 22 F1 90")->required();
    prepare_["isotp"] = [this] { return prepareIsoTp(); };
}

CommandLine::Command CommandLine::prepareIsoTp() {
    common_.extended = common_.extended || isoTx_.size() > 3 || isoRx_.size() > 3;
    isotp_.txId = idOf(isoTx_, common_.extended, "--source");
    isotp_.rxId = idOf(isoRx_, common_.extended, "--dest");
    const auto request = FrameText::parseHex(hexTexts_);
    if (!request || request->empty() || request->size() > 4095) {
        throw CLI::ValidationError("HEX", "1 to 4095 hex bytes expected");
    }
    isotp_.request = *request;
    return [this](PassThruLibrary& library) { return runIsoTp(library, common_, isotp_); };
}

void CommandLine::addObdAndLoad() {
    CLI::App* obd = app_.add_subcommand("obd", "engine speed, vehicle speed and VIN over OBD-II");
    obd->add_flag("-c,--can", obdRawCan_, "over raw CAN even when ISO15765 connects");
    prepare_["obd"] = [this] {
        return [this](PassThruLibrary& library) { return runObd(library, common_, obdRawCan_); };
    };
    CLI::App* load = app_.add_subcommand("load", "frames per second and bus load");
    load->add_option("-n,--seconds", load_.seconds, "end after SECONDS lines");
    prepare_["load"] = [this] {
        return [this](PassThruLibrary& library) { return runLoad(library, common_, load_); };
    };
}

}  // namespace ptcan
