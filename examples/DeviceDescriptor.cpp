#include "examples/DeviceDescriptor.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

namespace examples {

namespace {

// A JSON value as far as a descriptor needs it: a string, a boolean, or something else whose
// text was skipped (a number, null, an array, an object).
struct Value {
    enum class Kind { String, Boolean, Other } kind = Kind::Other;
    std::string text;
    bool boolean = false;
};

// Reads JSON text front to back; every read function consumes what it read and returns false
// on malformed input.
class Cursor {
  public:
    explicit Cursor(std::string_view text) : text_(text) {}

    void skipSpace() {
        while (!text_.empty() && std::isspace(static_cast<unsigned char>(text_.front()))) {
            text_.remove_prefix(1);
        }
    }
    bool take(char c) {
        skipSpace();
        if (text_.empty() || text_.front() != c) {
            return false;
        }
        text_.remove_prefix(1);
        return true;
    }
    bool peek(char c) {
        skipSpace();
        return !text_.empty() && text_.front() == c;
    }
    bool atEnd() {
        skipSpace();
        return text_.empty();
    }
    bool string(std::string& out);
    bool value(Value& out, int depth);

  private:
    bool escape(std::string& out);
    bool literal(std::string_view word);
    bool number();
    bool skipContainer(char close, int depth);

    std::string_view text_;
};

// Past the backslash: one escape. \u escapes outside ASCII are kept as UTF-8.
bool Cursor::escape(std::string& out) {
    if (text_.empty()) {
        return false;
    }
    const char c = text_.front();
    text_.remove_prefix(1);
    static constexpr std::string_view kFrom = "\"\\/bfnrt";
    static constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
    if (const auto at = kFrom.find(c); at != std::string_view::npos) {
        out += kTo[at];
        return true;
    }
    if (c != 'u' || text_.size() < 4) {
        return false;
    }
    unsigned code = 0;
    for (int i = 0; i < 4; ++i) {
        const char h = text_[i];
        if (!std::isxdigit(static_cast<unsigned char>(h))) {
            return false;
        }
        code = code * 16 + (std::isdigit(static_cast<unsigned char>(h))
                                ? h - '0'
                                : std::tolower(static_cast<unsigned char>(h)) - 'a' + 10);
    }
    text_.remove_prefix(4);
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return true;
}

bool Cursor::string(std::string& out) {
    if (!take('"')) {
        return false;
    }
    out.clear();
    while (!text_.empty()) {
        const char c = text_.front();
        text_.remove_prefix(1);
        if (c == '"') {
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            return false;
        }
        if (c != '\\') {
            out += c;
        } else if (!escape(out)) {
            return false;
        }
    }
    return false;
}

bool Cursor::literal(std::string_view word) {
    if (text_.substr(0, word.size()) != word) {
        return false;
    }
    text_.remove_prefix(word.size());
    return true;
}

bool Cursor::number() {
    const auto end = std::find_if(text_.begin(), text_.end(), [](char c) {
        return !std::isdigit(static_cast<unsigned char>(c)) &&
               std::string_view("+-.eE").find(c) == std::string_view::npos;
    });
    const auto length = static_cast<size_t>(end - text_.begin());
    text_.remove_prefix(length);
    return length > 0;
}

// Past the opening bracket: the elements or members, up to the closing one.
bool Cursor::skipContainer(char close, int depth) {
    if (take(close)) {
        return true;
    }
    do {
        std::string key;
        if (close == '}' && (!string(key) || !take(':'))) {
            return false;
        }
        Value ignored;
        if (!value(ignored, depth + 1)) {
            return false;
        }
    } while (take(','));
    return take(close);
}

bool Cursor::value(Value& out, int depth) {
    constexpr int kMaxDepth = 32;
    out = Value{};
    skipSpace();
    if (text_.empty() || depth > kMaxDepth) {
        return false;
    }
    switch (text_.front()) {
        case '"':
            out.kind = Value::Kind::String;
            return string(out.text);
        case 't':
        case 'f':
            out.kind = Value::Kind::Boolean;
            out.boolean = text_.front() == 't';
            return literal(out.boolean ? "true" : "false");
        case 'n':
            return literal("null");
        case '[':
        case '{': {
            const char close = text_.front() == '[' ? ']' : '}';
            text_.remove_prefix(1);
            return skipContainer(close, depth);
        }
        default:
            return number();
    }
}

// One member of the descriptor's object, kept where the descriptor has a use for it.
void apply(DeviceDescriptor& descriptor, const std::string& key, const Value& value) {
    if (value.kind == Value::Kind::Boolean) {
        if (value.boolean) {
            descriptor.protocols.push_back(key);
        }
        return;
    }
    if (value.kind != Value::Kind::String) {
        return;
    }
    if (key == "NAME") {
        descriptor.name = value.text;
    } else if (key == "VENDOR") {
        descriptor.vendor = value.text;
    } else if (key == "FUNCTION_LIB") {
        descriptor.functionLibrary = value.text;
    }
}

std::optional<std::string> readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return in.bad() ? std::nullopt : std::optional<std::string>(text.str());
}

// The *.json files of one folder, sorted by name; none when the folder is missing.
std::vector<std::filesystem::path> jsonFiles(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".json" && entry.is_regular_file(error)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::optional<DeviceDescriptor> DeviceDescriptor::parse(std::string_view json, std::string& error) {
    Cursor cursor(json);
    DeviceDescriptor descriptor;
    bool wellFormed = cursor.take('{');
    if (wellFormed && !cursor.take('}')) {
        do {
            std::string key;
            Value value;
            wellFormed = cursor.string(key) && cursor.take(':') && cursor.value(value, 1);
            if (wellFormed) {
                apply(descriptor, key, value);
            }
        } while (wellFormed && cursor.take(','));
        wellFormed = wellFormed && cursor.take('}');
    }
    if (!wellFormed || !cursor.atEnd()) {
        error = "not a JSON object";
        return std::nullopt;
    }
    if (descriptor.functionLibrary.empty()) {
        error = "no FUNCTION_LIB";
        return std::nullopt;
    }
    return descriptor;
}

std::vector<std::filesystem::path> DeviceDescriptor::standardFolders() {
    std::vector<std::filesystem::path> folders;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        folders.push_back(std::filesystem::path(home) / ".passthru");
    }
    folders.emplace_back("/etc/passthru");
    return folders;
}

std::vector<DeviceDescriptor> DeviceDescriptor::scan(
    const std::vector<std::filesystem::path>& folders, std::vector<std::string>& problems) {
    std::vector<DeviceDescriptor> found;
    std::set<std::filesystem::path> seen;
    for (const auto& folder : folders) {
        for (const auto& file : jsonFiles(folder)) {
            if (!seen.insert(file.filename()).second) {
                continue;
            }
            const auto text = readFile(file);
            std::string error = "cannot be read";
            auto descriptor = text ? parse(*text, error) : std::nullopt;
            if (!descriptor) {
                problems.push_back(file.string() + ": " + error);
                continue;
            }
            descriptor->file = file;
            found.push_back(std::move(*descriptor));
        }
    }
    return found;
}

}  // namespace examples
