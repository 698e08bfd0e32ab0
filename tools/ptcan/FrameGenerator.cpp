#include "tools/ptcan/FrameGenerator.h"

#include "tools/ptcan/FrameText.h"

namespace ptcan {

namespace {
constexpr uint32_t kStandardIdSpace = 0x800;
constexpr uint32_t kExtendedIdSpace = 0x20000000;
constexpr std::size_t kMaxLength = 8;

std::optional<FrameGenerator::Mode> modeOf(const std::string& text) {
    if (text == "r") {
        return FrameGenerator::Mode::Random;
    }
    if (text == "i") {
        return FrameGenerator::Mode::Increment;
    }
    return std::nullopt;
}

bool parseIdText(const std::string& text, FrameGenerator::Settings& settings) {
    if (const auto mode = modeOf(text)) {
        settings.idMode = *mode;
        return true;
    }
    const std::optional<FrameText::Id> id = FrameText::parseId(text, settings.extended);
    if (!id) {
        return false;
    }
    settings.idMode = FrameGenerator::Mode::Fixed;
    settings.id = id->value;
    settings.extended = id->extended;
    return true;
}

bool parseLengthText(const std::string& text, FrameGenerator::Settings& settings) {
    if (text == "r") {
        settings.lengthMode = FrameGenerator::Mode::Random;
        return true;
    }
    if (text.size() != 1 || text[0] < '0' || static_cast<std::size_t>(text[0] - '0') > kMaxLength) {
        return false;
    }
    settings.lengthMode = FrameGenerator::Mode::Fixed;
    settings.length = static_cast<uint8_t>(text[0] - '0');
    return true;
}

bool parseDataText(const std::string& text, FrameGenerator::Settings& settings) {
    if (const auto mode = modeOf(text)) {
        settings.dataMode = *mode;
        return true;
    }
    const auto bytes = FrameText::parseHex({text});
    if (!bytes || bytes->size() > kMaxLength) {
        return false;
    }
    settings.dataMode = FrameGenerator::Mode::Fixed;
    settings.data = *bytes;
    // Fixed data fixes the length too.
    settings.lengthMode = FrameGenerator::Mode::Fixed;
    settings.length = static_cast<uint8_t>(bytes->size());
    return true;
}
}  // namespace

std::optional<FrameGenerator::Settings> FrameGenerator::fromText(const std::string& id,
                                                                 const std::string& length,
                                                                 const std::string& data,
                                                                 bool extended) {
    Settings settings;
    settings.extended = extended;
    if (!parseIdText(id, settings) || !parseLengthText(length, settings) ||
        !parseDataText(data, settings)) {
        return std::nullopt;
    }
    return settings;
}

FrameGenerator::FrameGenerator(const Settings& settings)
    : settings_(settings), random_(std::random_device{}()) {}

Frame FrameGenerator::next() {
    Frame frame;
    frame.id = nextId();
    frame.extended = settings_.extended;
    frame.data.resize(nextLength());
    for (std::size_t i = 0; i < frame.data.size(); ++i) {
        frame.data[i] = dataByte(i);
    }
    ++counter_;
    return frame;
}

uint32_t FrameGenerator::nextId() {
    const uint32_t space = settings_.extended ? kExtendedIdSpace : kStandardIdSpace;
    switch (settings_.idMode) {
        case Mode::Fixed:
            return settings_.id;
        case Mode::Increment:
            return static_cast<uint32_t>(counter_ % space);
        case Mode::Random:
            break;
    }
    return static_cast<uint32_t>(random_() % space);
}

std::size_t FrameGenerator::nextLength() {
    if (settings_.lengthMode == Mode::Random) {
        return random_() % (kMaxLength + 1);
    }
    return settings_.length;
}

// Incrementing data is the frame counter, least significant byte first.
uint8_t FrameGenerator::dataByte(std::size_t index) {
    switch (settings_.dataMode) {
        case Mode::Fixed:
            return index < settings_.data.size() ? settings_.data[index] : 0;
        case Mode::Increment:
            return static_cast<uint8_t>(index < sizeof counter_ ? counter_ >> (8 * index) : 0);
        case Mode::Random:
            break;
    }
    return static_cast<uint8_t>(random_());
}

}  // namespace ptcan
