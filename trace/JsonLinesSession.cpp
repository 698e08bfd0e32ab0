#include "trace/JsonLinesSession.h"

#include <string>

namespace vtx::trace {

namespace {

// Texts are 8-bit (ANSI); bytes outside printable ASCII are written as \u00XX, that is as their
// Latin-1 code points.
void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

const char* typeName(FieldType type) {
    switch (type) {
        case FieldType::U32:
            return "u32";
        case FieldType::Hex32:
            return "hex32";
        case FieldType::I32:
            return "i32";
        case FieldType::Ansi:
            return "ansi";
    }
    return "u32";
}

void appendField(std::string& out, const TraceField& field) {
    out += "{\"name\":";
    appendJsonString(out, std::string(field.name) + "=");
    out += ",\"type\":\"";
    out += typeName(field.type);
    out += "\",\"value\":";
    switch (field.type) {
        case FieldType::Ansi:
            appendJsonString(out, field.text);
            break;
        case FieldType::I32:
            out += std::to_string(static_cast<int32_t>(field.number));
            break;
        default:
            out += std::to_string(field.number);
            break;
    }
    out += '}';
}

}  // namespace

JsonLinesSession::JsonLinesSession(std::string destination, uint8_t sessionLevel)
    : destination_(std::move(destination)), sessionLevel_(sessionLevel) {}

JsonLinesSession::~JsonLinesSession() {
    closeOutput();
}

bool JsonLinesSession::registerProvider(std::string_view /*name*/,
                                        std::atomic<uint8_t>& enabledLevel) {
    enabledLevel_ = &enabledLevel;
    std::lock_guard lock(mutex_);
    if (destination_ == "-") {
        out_ = stderr;
    } else if (!destination_.empty()) {
        out_ = std::fopen(destination_.c_str(), "a");
    }
    enabledLevel.store(out_ != nullptr ? sessionLevel_ : 0);
    return true;
}

void JsonLinesSession::unregisterProvider() {
    if (enabledLevel_ != nullptr) {
        enabledLevel_->store(0);
        enabledLevel_ = nullptr;
    }
    closeOutput();
}

void JsonLinesSession::closeOutput() {
    std::lock_guard lock(mutex_);
    if (out_ != nullptr && out_ != stderr) {
        std::fclose(out_);
    }
    out_ = nullptr;
}

void JsonLinesSession::write(const TraceEvent& event) {
    const std::string line = formatLine(event);
    std::lock_guard lock(mutex_);
    if (out_ == nullptr) {
        return;
    }
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

std::string JsonLinesSession::formatLine(const TraceEvent& event) {
    std::string out;
    out.reserve(256);
    out += "{\"name\":";
    appendJsonString(out, event.name);
    out += ",\"message\":";
    appendJsonString(out, event.message);
    out += ",\"level\":" + std::to_string(event.level);
    out += ",\"keyword\":" + std::to_string(event.keyword);
    out += ",\"fields\":[";
    for (std::size_t i = 0; i < event.fields.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        appendField(out, event.fields[i]);
    }
    out += ']';
    if (event.hasCounter) {
        out += ",\"C\":" + std::to_string(event.counter);
    }
    out += ",\"T\":" + std::to_string(event.thread);
    out += "}\n";
    return out;
}

}  // namespace vtx::trace
