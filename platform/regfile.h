// The .reg text format ("Windows Registry Editor Version 5.00") and an in-memory registry
// tree it loads into. Portable: the Linux registry backend keeps its whole registry in one
// such file, and the admin tool imports and exports it on every platform.
//
// Text values that plain quoting can carry (printable ASCII ending in exactly one NUL) are
// written as "name"="text"; 4-byte DWORDs as dword:xxxxxxxx; everything else as hex lists
// (hex: for REG_BINARY, hex(N): for type N), so every byte string round-trips exactly.
// Parsing is strict: a text it does not fully understand is reported with its line number
// and nothing of it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::regfile {

inline constexpr char kHeader[] = "Windows Registry Editor Version 5.00";

struct Value {
    std::string name;  // empty for the default value ("@")
    std::uint32_t type = 0;
    std::string data;  // raw bytes as stored
};

// Deepest key path the format takes, the root key included, as Windows allows. Deeper paths
// are refused with an error rather than built.
inline constexpr std::size_t kMaxKeyDepth = 512;
// Largest data of one value; a file or a write that holds more is refused.
inline constexpr std::size_t kMaxValueBytes = 1 << 20;

// One key: its name as first stored, its values in the order they were first set, and its
// subkeys. Lookups ignore ASCII case, as registry names do, and are indexed, so a key with
// many values or subkeys loads in about N log N. Destruction is iterative: no depth of tree
// can exhaust the stack.
class Node {
  public:
    Node() = default;
    explicit Node(std::string keyName) : name(std::move(keyName)) {}
    ~Node();
    Node(Node&&) = default;
    Node& operator=(Node&&) = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    std::string name;

    Node* FindSubkey(std::string_view key);
    const Node* FindSubkey(std::string_view key) const;
    Node* AddSubkey(std::string_view key);  // the existing one when present
    bool RemoveSubkey(std::string_view key);
    bool HasSubkeys() const { return !subkeys_.empty(); }

    const std::vector<Value>& Values() const { return values_; }
    Value* FindValue(std::string_view valueName);
    const Value* FindValue(std::string_view valueName) const;
    // Replaces the data of an existing value (keeping its stored name and place) or appends.
    void SetValue(std::string_view valueName, std::uint32_t type, std::string data);
    bool RemoveValue(std::string_view valueName);
    // Removes every value and subkey.
    void Clear();

    // Subkeys in case-insensitive name order (how listings and exports show them).
    std::vector<const Node*> SortedSubkeys() const;

  private:
    std::vector<Value> values_;
    std::unordered_map<std::string, std::size_t> valueIndex_;  // folded name -> place
    // Keyed by the upper-case folded name: the map's order is the written order.
    std::map<std::string, std::unique_ptr<Node>> subkeys_;
};

// The full name of a root key given by full name or abbreviation, any case
// ("hklm" -> "HKEY_LOCAL_MACHINE"); empty when it is not a root key's name.
std::string CanonicalRoot(std::string_view name);

// Splits "ROOT\a\b" into its components with the root in canonical form. Empty components
// (doubled or trailing backslashes) are dropped when lenient, an error otherwise. False when
// the root is unknown, a component is unacceptable or there are more than kMaxKeyDepth.
bool SplitKeyPath(std::string_view path, bool lenient, std::vector<std::string>* parts);

// A key path below a root with empty components (leading, doubled or trailing backslashes)
// removed (\SOFTWARE\\BriskoFilter\ gives SOFTWARE\BriskoFilter). Both registry backends
// take subkeys this way, so they accept the same paths.
std::string NormaliseSubKey(std::string_view subKey);

// Whether a name can be stored in the text format (no NUL, CR or LF; key names also no '\').
bool IsStorableValueName(std::string_view name);
bool IsStorableKeyName(std::string_view name);

// Walks from the top node (whose subkeys are the roots) along parts.
Node* FindKey(Node* top, const std::vector<std::string>& parts);
const Node* FindKey(const Node* top, const std::vector<std::string>& parts);
// Creates what is missing along parts and returns the last key.
Node* CreateKey(Node* top, const std::vector<std::string>& parts);

// One line of a section: a value to set, or to remove ("name"=-).
struct Entry {
    bool remove = false;
    Value value;
};

// One section of a .reg text: a key to create and fill, or to remove ([-key]).
struct Section {
    std::vector<std::string> path;  // root first, canonical
    bool remove = false;
    int line = 0;
    std::vector<Entry> entries;
};

struct ParseError {
    int line = 0;  // 1-based; 0 for the text as a whole
    std::string message;
};

// Parses a .reg text (LF or CR LF line ends, an optional UTF-8 byte-order mark, "REGEDIT4"
// accepted as header). A text of blanks only yields no sections.
bool Parse(std::string_view text, std::vector<Section>* out, ParseError* error);
// How many texts Parse has been given in this process: what shows that an unchanged
// registry file is not parsed again.
std::uint64_t ParsedTexts();

// Applies parsed sections onto a tree as an import does: later lines win, removals remove.
void Apply(const std::vector<Section>& sections, Node* top);

// The whole tree as a .reg text with CR LF line ends.
std::string Serialise(const Node& top);
// One key and everything below it, with the header, as an export of that key.
std::string SerialiseSubtree(const Node& key, const std::string& fullPath);

// One value line ("name"=data), wrapped with trailing backslashes like the editor's exports;
// lines joined by CR LF, no line end after the last.
std::string FormatValue(const Value& value);

// The value of a hexadecimal digit, -1 for any other character.
int HexDigitValue(char c);

}  // namespace platform::regfile
