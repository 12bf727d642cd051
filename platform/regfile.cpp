// The .reg text format: strict parsing into sections, applying them to a registry tree, and
// writing a tree back. Parse failures come back as a line number and a message; nothing else
// here can fail.
#include "platform/regfile.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <string>
#include <utility>

#include "platform/nocase.h"
#include "platform/wildcard.h"

namespace platform::regfile {
namespace {

// The subkey index is ordered by names folded to upper case, unsigned: files written before
// the index existed list keys in that order, so rewriting one keeps its bytes.
std::string UpperKey(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string LowerKey(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        c = platform::FoldCase(c);
    }
    return out;
}

// Non-empty components of a key path, counted without building them.
std::size_t KeyPathDepth(std::string_view path) {
    std::size_t depth = 0;
    bool inPart = false;
    for (char c : path) {
        if (c == '\\') {
            inPart = false;
        } else if (!inPart) {
            inPart = true;
            ++depth;
        }
    }
    return depth;
}

std::string TooBigMessage() {
    return "value data larger than " + std::to_string(kMaxValueBytes) + " bytes";
}

struct RootName {
    const char* full;
    const char* shortName;
};
constexpr RootName kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_CLASSES_ROOT", "HKCR"},   {"HKEY_CURRENT_USER", "HKCU"},
    {"HKEY_USERS", "HKU"},          {"HKEY_CURRENT_CONFIG", "HKCC"},
};

constexpr char kHexDigits[] = "0123456789abcdef";
// Hex lists are wrapped before this column, as the editor's own exports are.
constexpr std::size_t kWrapColumn = 76;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// 1 to 8 hex digits, the whole of s.
bool ParseHex32(std::string_view s, std::uint32_t* out) {
    if (s.empty() || s.size() > 8) {
        return false;
    }
    std::uint32_t v = 0;
    for (char c : s) {
        const int d = HexDigitValue(c);
        if (d < 0) {
            return false;
        }
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    *out = v;
    return true;
}

// Splits a text into physical lines, dropping the CR of CR LF.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Reads a quoted string starting at s[*pos] == '"'; only \\ and \" are escapes.
bool ReadQuoted(std::string_view s, std::size_t* pos, std::string* out, std::string* message) {
    std::size_t i = *pos + 1;
    out->clear();
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= s.size()) {
                break;
            }
            const char next = s[i + 1];
            if (next != '\\' && next != '"') {
                *message = "unknown escape \\" + std::string(1, next) + " in a quoted string";
                return false;
            }
            out->push_back(next);
            i += 2;
            continue;
        }
        out->push_back(c);
        ++i;
    }
    *message = "quoted string not closed";
    return false;
}

// Parses "xx,xx,..." (blanks allowed around bytes); an empty list is no bytes.
bool ParseHexList(std::string_view list, std::string* out, std::string* message) {
    out->clear();
    list = Trim(list);
    if (list.empty()) {
        return true;
    }
    std::size_t start = 0;
    while (true) {
        std::size_t comma = list.find(',', start);
        const std::string_view item =
            Trim(list.substr(start, comma == std::string_view::npos ? comma : comma - start));
        std::uint32_t byte = 0;
        if (item.size() > 2 || !ParseHex32(item, &byte)) {
            *message = "bad byte \"" + std::string(item) + "\" in a hex list";
            return false;
        }
        out->push_back(static_cast<char>(byte));
        if (comma == std::string_view::npos) {
            return true;
        }
        start = comma + 1;
    }
}

class Parser {
  public:
    Parser(std::string_view text, std::vector<Section>* out, ParseError* error)
        : lines_(SplitLines(text)), out_(out), error_(error) {}

    bool Run() {
        bool sawHeader = false;
        for (index_ = 0; index_ < lines_.size(); ++index_) {
            const std::string_view line = Trim(lines_[index_]);
            if (line.empty()) {
                continue;
            }
            if (!sawHeader) {
                if (line != kHeader && line != "REGEDIT4") {
                    return Fail("not a registry file: the first line must be \"" +
                                std::string(kHeader) + "\"");
                }
                sawHeader = true;
                continue;
            }
            if (line.front() == ';') {
                continue;
            }
            const bool ok = line.front() == '[' ? ParseSection(line)
                            : (line.front() == '"' || line.front() == '@')
                                ? ParseValue(line)
                                : Fail("unexpected text \"" + std::string(line) + "\"");
            if (!ok) {
                return false;
            }
        }
        return true;
    }

  private:
    bool Fail(std::string message) {
        error_->line = static_cast<int>(index_) + 1;
        error_->message = std::move(message);
        return false;
    }

    bool ParseSection(std::string_view line) {
        if (line.back() != ']') {
            return Fail("key line without a closing ]");
        }
        std::string_view inner = line.substr(1, line.size() - 2);
        Section section;
        section.line = static_cast<int>(index_) + 1;
        if (!inner.empty() && inner.front() == '-') {
            section.remove = true;
            inner.remove_prefix(1);
        }
        if (KeyPathDepth(inner) > kMaxKeyDepth) {
            return Fail("key path deeper than " + std::to_string(kMaxKeyDepth) + " levels");
        }
        if (!SplitKeyPath(inner, false, &section.path)) {
            return Fail("bad key name \"" + std::string(inner) + "\"");
        }
        out_->push_back(std::move(section));
        return true;
    }

    bool ParseValue(std::string_view line) {
        if (out_->empty()) {
            return Fail("value outside of any key");
        }
        Entry entry;
        std::size_t pos = 0;
        std::string message;
        if (line.front() == '@') {
            pos = 1;
        } else if (!ReadQuoted(line, &pos, &entry.value.name, &message)) {
            return Fail(message);
        } else if (!IsStorableValueName(entry.value.name)) {
            return Fail("value name holds a carriage return");
        }
        while (pos < line.size() && IsBlank(line[pos])) {
            ++pos;
        }
        if (pos >= line.size() || line[pos] != '=') {
            return Fail("value name not followed by =");
        }
        ++pos;
        while (pos < line.size() && IsBlank(line[pos])) {
            ++pos;
        }
        std::string_view data = line.substr(pos);
        if (data == "-") {
            entry.remove = true;
        } else if (!data.empty() && data.front() == '"') {
            std::size_t end = 0;
            if (!ReadQuoted(data, &end, &entry.value.data, &message)) {
                return Fail(message);
            }
            if (end != data.size()) {
                return Fail("text after the closing quote");
            }
            if (entry.value.data.size() >= kMaxValueBytes) {
                return Fail(TooBigMessage());
            }
            entry.value.type = 1;  // REG_SZ, stored with its terminating NUL
            entry.value.data.push_back('\0');
        } else if (platform::StartsWithNoCase(data, "dword:")) {
            std::uint32_t v = 0;
            if (!ParseHex32(data.substr(6), &v)) {
                return Fail("bad dword \"" + std::string(data.substr(6)) + "\"");
            }
            entry.value.type = 4;
            for (int i = 0; i < 4; ++i) {
                entry.value.data.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
            }
        } else if (platform::StartsWithNoCase(data, "hex")) {
            if (!ParseHexValue(data.substr(3), &entry.value)) {
                return false;
            }
        } else {
            return Fail("unknown value data \"" + std::string(data) + "\"");
        }
        out_->back().entries.push_back(std::move(entry));
        return true;
    }

    // After "hex": an optional "(N)", a colon and a byte list that may continue on the next
    // lines after a trailing backslash.
    bool ParseHexValue(std::string_view rest, Value* value) {
        value->type = 3;  // REG_BINARY
        if (!rest.empty() && rest.front() == '(') {
            const std::size_t close = rest.find(')');
            if (close == std::string_view::npos ||
                !ParseHex32(rest.substr(1, close - 1), &value->type)) {
                return Fail("bad hex(type)");
            }
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != ':') {
            return Fail("hex type not followed by :");
        }
        rest.remove_prefix(1);
        const std::size_t first = index_;
        std::string list(rest);
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (index_ + 1 >= lines_.size()) {
                return Fail("continuation line missing at the end");
            }
            ++index_;
            list += Trim(lines_[index_]);
            // Three characters a byte ("xx,"); stop collecting long before the list is parsed.
            if (list.size() > 3 * kMaxValueBytes + 3) {
                index_ = first;
                return Fail(TooBigMessage());
            }
        }
        std::string message;
        if (!ParseHexList(list, &value->data, &message)) {
            index_ = first;  // name the line the value starts on
            return Fail(message);
        }
        if (value->data.size() > kMaxValueBytes) {
            index_ = first;
            return Fail(TooBigMessage());
        }
        return true;
    }

    std::vector<std::string_view> lines_;
    std::vector<Section>* out_;
    ParseError* error_;
    std::size_t index_ = 0;
};

void AppendQuoted(std::string_view s, std::string* out) {
    out->push_back('"');
    for (char c : s) {
        if (c == '\\' || c == '"') {
            out->push_back('\\');
        }
        out->push_back(c);
    }
    out->push_back('"');
}

// Text that can stand between quotes: printable ASCII with exactly one NUL, at the end.
bool QuotableText(const std::string& data) {
    if (data.empty() || data.back() != '\0') {
        return false;
    }
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c < 0x20 || c > 0x7e) {
            return false;
        }
    }
    return true;
}

// Writes a key and everything below it, depth first with subkeys in order, without
// recursion.
void AppendKey(const Node& key, const std::string& path, std::string* out) {
    std::vector<std::pair<const Node*, std::string>> pending;
    pending.emplace_back(&key, path);
    while (!pending.empty()) {
        auto [node, nodePath] = std::move(pending.back());
        pending.pop_back();
        // A root key without values needs no line of its own: its subkeys' lines imply it.
        const bool isRoot = nodePath.find('\\') == std::string::npos;
        if (!isRoot || !node->Values().empty()) {
            out->append("[").append(nodePath).append("]\r\n");
            for (const Value& v : node->Values()) {
                out->append(FormatValue(v)).append("\r\n");
            }
            out->append("\r\n");
        }
        const std::vector<const Node*> subs = node->SortedSubkeys();
        for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
            pending.emplace_back(*it, nodePath + "\\" + (*it)->name);
        }
    }
}

}  // namespace

Node::~Node() {
    // Children are detached before they die, so each destructor sees no subkeys.
    std::vector<std::unique_ptr<Node>> pending;
    for (auto& entry : subkeys_) {
        pending.push_back(std::move(entry.second));
    }
    subkeys_.clear();
    while (!pending.empty()) {
        std::unique_ptr<Node> node = std::move(pending.back());
        pending.pop_back();
        for (auto& entry : node->subkeys_) {
            pending.push_back(std::move(entry.second));
        }
        node->subkeys_.clear();
    }
}

Node* Node::FindSubkey(std::string_view key) {
    const auto it = subkeys_.find(UpperKey(key));
    return it == subkeys_.end() ? nullptr : it->second.get();
}

const Node* Node::FindSubkey(std::string_view key) const {
    return const_cast<Node*>(this)->FindSubkey(key);
}

Node* Node::AddSubkey(std::string_view key) {
    auto [it, added] = subkeys_.try_emplace(UpperKey(key));
    if (added) {
        it->second = std::make_unique<Node>(std::string(key));
    }
    return it->second.get();
}

bool Node::RemoveSubkey(std::string_view key) {
    return subkeys_.erase(UpperKey(key)) != 0;
}

Value* Node::FindValue(std::string_view valueName) {
    const auto it = valueIndex_.find(LowerKey(valueName));
    return it == valueIndex_.end() ? nullptr : &values_[it->second];
}

const Value* Node::FindValue(std::string_view valueName) const {
    return const_cast<Node*>(this)->FindValue(valueName);
}

void Node::SetValue(std::string_view valueName, std::uint32_t type, std::string data) {
    auto [it, added] = valueIndex_.try_emplace(LowerKey(valueName), values_.size());
    if (!added) {
        values_[it->second].type = type;
        values_[it->second].data = std::move(data);
        return;
    }
    values_.push_back(Value{std::string(valueName), type, std::move(data)});
}

bool Node::RemoveValue(std::string_view valueName) {
    const auto it = valueIndex_.find(LowerKey(valueName));
    if (it == valueIndex_.end()) {
        return false;
    }
    const std::size_t place = it->second;
    valueIndex_.erase(it);
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(place));
    for (auto& entry : valueIndex_) {
        if (entry.second > place) {
            --entry.second;
        }
    }
    return true;
}

void Node::Clear() {
    values_.clear();
    valueIndex_.clear();
    Node detached;
    detached.subkeys_.swap(subkeys_);  // destroyed iteratively
}

std::vector<const Node*> Node::SortedSubkeys() const {
    std::vector<const Node*> sorted;
    sorted.reserve(subkeys_.size());
    for (const auto& entry : subkeys_) {
        sorted.push_back(entry.second.get());
    }
    return sorted;
}

std::string CanonicalRoot(std::string_view name) {
    for (const RootName& root : kRoots) {
        if (platform::EqualNoCase(name, root.full) || platform::EqualNoCase(name, root.shortName)) {
            return root.full;
        }
    }
    return {};
}

bool IsStorableValueName(std::string_view name) {
    return name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

bool IsStorableKeyName(std::string_view name) {
    return !name.empty() && IsStorableValueName(name) && name.find('\\') == std::string_view::npos;
}

std::string NormaliseSubKey(std::string_view subKey) {
    std::string out;
    std::size_t start = 0;
    while (start <= subKey.size()) {
        std::size_t end = subKey.find('\\', start);
        if (end == std::string_view::npos) {
            end = subKey.size();
        }
        if (end > start) {
            if (!out.empty()) {
                out.push_back('\\');
            }
            out.append(subKey.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

bool SplitKeyPath(std::string_view path, bool lenient, std::vector<std::string>* parts) {
    parts->clear();
    if (KeyPathDepth(path) > kMaxKeyDepth) {
        return false;
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view part = path.substr(start, end - start);
        if (part.empty()) {
            if (!lenient) {
                return false;
            }
        } else if (!IsStorableKeyName(part)) {
            return false;
        } else {
            parts->emplace_back(part);
        }
        start = end + 1;
    }
    if (parts->empty()) {
        return false;
    }
    parts->front() = CanonicalRoot(parts->front());
    return !parts->front().empty();
}

Node* FindKey(Node* top, const std::vector<std::string>& parts) {
    Node* node = top;
    for (const std::string& part : parts) {
        node = node->FindSubkey(part);
        if (node == nullptr) {
            return nullptr;
        }
    }
    return node;
}

const Node* FindKey(const Node* top, const std::vector<std::string>& parts) {
    return FindKey(const_cast<Node*>(top), parts);
}

Node* CreateKey(Node* top, const std::vector<std::string>& parts) {
    Node* node = top;
    for (const std::string& part : parts) {
        node = node->AddSubkey(part);
    }
    return node;
}

namespace {
std::atomic<std::uint64_t> gParsedTexts{0};
}  // namespace

std::uint64_t ParsedTexts() {
    return gParsedTexts.load();
}

bool Parse(std::string_view text, std::vector<Section>* out, ParseError* error) {
    gParsedTexts.fetch_add(1);
    out->clear();
    *error = ParseError{};
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xff &&
        static_cast<unsigned char>(text[1]) == 0xfe) {
        error->message = "UTF-16 text is not supported: save the file as ANSI text";
        return false;
    }
    if (text.substr(0, 3) == "\xef\xbb\xbf") {
        text.remove_prefix(3);
    }
    if (text.find('\0') != std::string_view::npos) {
        error->message = "the text holds a NUL byte";
        return false;
    }
    return Parser(text, out, error).Run();
}

void Apply(const std::vector<Section>& sections, Node* top) {
    for (const Section& section : sections) {
        if (section.remove) {
            std::vector<std::string> parentPath(section.path.begin(), section.path.end() - 1);
            if (Node* parent = FindKey(top, parentPath)) {
                parent->RemoveSubkey(section.path.back());
            }
            continue;
        }
        Node* key = CreateKey(top, section.path);
        for (const Entry& entry : section.entries) {
            if (entry.remove) {
                key->RemoveValue(entry.value.name);
            } else {
                key->SetValue(entry.value.name, entry.value.type, entry.value.data);
            }
        }
    }
}

std::string FormatValue(const Value& value) {
    std::string line;
    if (value.name.empty()) {
        line = "@";
    } else {
        AppendQuoted(value.name, &line);
    }
    line.push_back('=');
    if (value.type == 1 && QuotableText(value.data)) {
        AppendQuoted(std::string_view(value.data).substr(0, value.data.size() - 1), &line);
        return line;
    }
    if (value.type == 4 && value.data.size() == 4) {
        line += "dword:";
        for (int i = 3; i >= 0; --i) {
            const auto b = static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
            line.push_back(kHexDigits[b >> 4]);
            line.push_back(kHexDigits[b & 0xf]);
        }
        return line;
    }
    if (value.type == 3) {
        line += "hex:";
    } else {
        std::string type;
        for (std::uint32_t t = value.type; t != 0; t >>= 4) {
            type.insert(type.begin(), kHexDigits[t & 0xf]);
        }
        line += "hex(" + (type.empty() ? std::string("0") : type) + "):";
    }
    std::size_t column = line.size();
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        const auto b = static_cast<unsigned char>(value.data[i]);
        line.push_back(kHexDigits[b >> 4]);
        line.push_back(kHexDigits[b & 0xf]);
        column += 2;
        if (i + 1 < value.data.size()) {
            line.push_back(',');
            ++column;
            if (column >= kWrapColumn) {
                line += "\\\r\n  ";
                column = 2;
            }
        }
    }
    return line;
}

std::string Serialise(const Node& top) {
    std::string out = std::string(kHeader) + "\r\n\r\n";
    for (const Node* root : top.SortedSubkeys()) {
        AppendKey(*root, root->name, &out);
    }
    return out;
}

std::string SerialiseSubtree(const Node& key, const std::string& fullPath) {
    std::string out = std::string(kHeader) + "\r\n\r\n";
    AppendKey(key, fullPath, &out);
    return out;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace platform::regfile
