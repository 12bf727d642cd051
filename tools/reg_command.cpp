// `tallyctl reg`: add, query, delete, import and export registry settings with the syntax
// and messages of Windows' reg command. Everything goes through the platform registry, so it
// acts on the real registry on Windows and on the .reg file elsewhere. Failures are printed
// as "ERROR: ..." lines on the error stream and give exit status 1.
#include "tools/reg_command.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>

#include "platform/files.h"
#include "platform/regfile.h"
#include "platform/registry.h"
#include "platform/wildcard.h"

namespace {

using platform::RegKey;

constexpr char kSuccess[] = "The operation completed successfully.";
// A .reg file larger than this is refused rather than read.
constexpr std::uint64_t kMaxImportBytes = 64ull << 20;
// Keys nest no deeper than the registry allows; deeper recursion means something is wrong.
constexpr std::size_t kMaxDepth = platform::regfile::kMaxKeyDepth;

std::string ErrorText(long code) {
    switch (code) {
        case platform::kErrorFileNotFound:
            return "The system was unable to find the specified registry key or value.";
        case platform::kErrorAccessDenied:
            return "Access is denied.";
        case platform::kErrorInvalidParameter:
            return "The parameter is incorrect.";
        case 170:
            return "The requested resource is in use.";
        case 1009:
            return "The configuration registry database is corrupt.";
        case 1016:
            return "An I/O operation initiated by the registry failed unrecoverably.";
        case 1018:
            return "Illegal operation attempted on a registry key that has been marked for "
                   "deletion.";
        case 1450:
            return "Insufficient system resources exist to complete the requested service.";
        default:
            return "The registry call failed with error " + std::to_string(code) + ".";
    }
}

struct TypeName {
    std::uint32_t type;
    const char* name;
};
constexpr TypeName kTypes[] = {
    {platform::kRegNone, "REG_NONE"},
    {platform::kRegSz, "REG_SZ"},
    {platform::kRegExpandSz, "REG_EXPAND_SZ"},
    {platform::kRegBinary, "REG_BINARY"},
    {platform::kRegDword, "REG_DWORD"},
    {platform::kRegMultiSz, "REG_MULTI_SZ"},
    {11, "REG_QWORD"},
};

std::optional<std::uint32_t> TypeFromName(const std::string& name) {
    for (const TypeName& t : kTypes) {
        if (platform::EqualNoCase(name, t.name)) {
            return t.type;
        }
    }
    return std::nullopt;
}

std::string NameOfType(std::uint32_t type) {
    for (const TypeName& t : kTypes) {
        if (t.type == type) {
            return t.name;
        }
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(type));
    return buffer;
}

// Control characters would act on the terminal; they are shown as \xHH instead.
void AppendShown(std::string_view text, std::string* out) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", u);
            out->append(buffer);
        } else {
            out->push_back(c);
        }
    }
}

std::string ShowData(std::uint32_t type, const std::string& data) {
    std::string out;
    if (type == platform::kRegSz || type == platform::kRegExpandSz) {
        AppendShown(std::string_view(data).substr(0, data.find('\0')), &out);
    } else if (type == platform::kRegMultiSz) {
        std::size_t start = 0;
        bool first = true;
        while (start < data.size()) {
            const std::size_t end = std::min(data.find('\0', start), data.size());
            if (end == start) {
                break;  // the empty string that ends the list
            }
            out += first ? "" : "\\0";
            AppendShown(std::string_view(data).substr(start, end - start), &out);
            first = false;
            start = end + 1;
        }
    } else if ((type == platform::kRegDword && data.size() == 4) ||
               (type == 11 && data.size() == 8)) {
        std::uint64_t v = 0;
        for (std::size_t i = data.size(); i-- > 0;) {
            v = (v << 8) | static_cast<unsigned char>(data[i]);
        }
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(v));
        out = buffer;
    } else {
        static const char kDigits[] = "0123456789ABCDEF";
        for (char c : data) {
            const auto u = static_cast<unsigned char>(c);
            out.push_back(kDigits[u >> 4]);
            out.push_back(kDigits[u & 0xf]);
        }
    }
    return out;
}

std::string ShowValueLine(const std::string& name, std::uint32_t type, const std::string& data) {
    std::string line = "    ";
    if (name.empty()) {
        line += "(Default)";
    } else {
        AppendShown(name, &line);
    }
    return line + "    " + NameOfType(type) + "    " + ShowData(type, data);
}

// A key given on the command line: "HKLM\SOFTWARE\BriskoFilter".
struct KeyArg {
    RegKey root = nullptr;
    std::string subKey;   // below the root, empty components dropped
    std::string display;  // canonical root name and the subkey
};

bool ParseKey(const std::string& text, KeyArg* key) {
    const std::size_t cut = text.find('\\');
    key->root = platform::RegRootFromName(text.substr(0, cut));
    if (key->root == nullptr) {
        return false;
    }
    key->subKey = cut == std::string::npos
                      ? std::string()
                      : platform::regfile::NormaliseSubKey(std::string_view(text).substr(cut + 1));
    key->display =
        platform::RegRootName(key->root) + (key->subKey.empty() ? "" : "\\") + key->subKey;
    return true;
}

// The switches after the positional words: /v NAME, /ve, /va, /t TYPE, /d DATA, /s SEP, /f,
// /y (also with '-'), each at most once.
struct Switches {
    std::optional<std::string> valueName;
    bool defaultValue = false;
    bool allValues = false;
    std::optional<std::string> type;
    std::optional<std::string> data;
    std::optional<std::string> separator;
    bool force = false;
    bool yes = false;
};

bool IsSwitch(const std::string& word, const char* name) {
    return word.size() >= 2 && (word[0] == '/' || word[0] == '-') &&
           platform::EqualNoCase(std::string_view(word).substr(1), name);
}

bool ParseSwitches(const std::vector<std::string>& words, std::size_t first, const char* allowed,
                   Switches* s) {
    const std::string allow = std::string(" ") + allowed + " ";
    auto permitted = [&](const char* name) {
        return allow.find(std::string(" ") + name + " ") != std::string::npos;
    };
    for (std::size_t i = first; i < words.size(); ++i) {
        const std::string& w = words[i];
        auto takeArgument = [&](std::optional<std::string>* slot) {
            if (slot->has_value() || i + 1 >= words.size()) {
                return false;
            }
            *slot = words[++i];
            return true;
        };
        auto setFlag = [](bool* flag) {
            if (*flag) {
                return false;
            }
            *flag = true;
            return true;
        };
        bool ok = false;
        if (IsSwitch(w, "v") && permitted("v")) {
            ok = takeArgument(&s->valueName);
        } else if (IsSwitch(w, "ve") && permitted("ve")) {
            ok = setFlag(&s->defaultValue);
        } else if (IsSwitch(w, "va") && permitted("va")) {
            ok = setFlag(&s->allValues);
        } else if (IsSwitch(w, "t") && permitted("t")) {
            ok = takeArgument(&s->type);
        } else if (IsSwitch(w, "d") && permitted("d")) {
            ok = takeArgument(&s->data);
        } else if (IsSwitch(w, "s") && permitted("s")) {
            ok = takeArgument(&s->separator);
        } else if (IsSwitch(w, "f") && permitted("f")) {
            ok = setFlag(&s->force);
        } else if (IsSwitch(w, "y") && permitted("y")) {
            ok = setFlag(&s->yes);
        }
        if (!ok) {
            return false;
        }
    }
    // At most one of /v, /ve and /va.
    return (s->valueName.has_value() ? 1 : 0) + (s->defaultValue ? 1 : 0) +
               (s->allValues ? 1 : 0) <=
           1;
}

// Converts the /d text to the bytes of the value, as reg does for each type.
bool EncodeData(std::uint32_t type, const std::string& text, const std::string& separator,
                std::string* out) {
    out->clear();
    switch (type) {
        case platform::kRegSz:
        case platform::kRegExpandSz:
            *out = text;
            out->push_back('\0');
            return true;
        case platform::kRegDword:
        case 11: {
            if (text.empty()) {
                *out = std::string(type == 11 ? 8 : 4, '\0');
                return true;
            }
            const bool hex =
                text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
            const int base = hex ? 16 : 10;
            std::uint64_t v = 0;
            const std::uint64_t limit = type == 11 ? UINT64_MAX : UINT32_MAX;
            for (std::size_t i = hex ? 2 : 0; i < text.size(); ++i) {
                const int d = platform::regfile::HexDigitValue(text[i]);
                if (d < 0 || d >= base || v > (limit - static_cast<std::uint64_t>(d)) / base) {
                    return false;
                }
                v = v * base + static_cast<std::uint64_t>(d);
            }
            for (int i = 0; i < (type == 11 ? 8 : 4); ++i) {
                out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
            }
            return true;
        }
        case platform::kRegMultiSz: {
            const std::string sep = separator.empty() ? "\\0" : separator;
            std::size_t start = 0;
            while (!text.empty()) {
                const std::size_t end = text.find(sep, start);
                out->append(text, start,
                            end == std::string::npos ? std::string::npos : end - start);
                out->push_back('\0');
                if (end == std::string::npos) {
                    break;
                }
                start = end + sep.size();
            }
            out->push_back('\0');
            return true;
        }
        default: {  // REG_BINARY, REG_NONE: hex digits, two per byte
            if (text.size() % 2 != 0) {
                return false;
            }
            for (std::size_t i = 0; i < text.size(); i += 2) {
                const int high = platform::regfile::HexDigitValue(text[i]);
                const int low = platform::regfile::HexDigitValue(text[i + 1]);
                if (high < 0 || low < 0) {
                    return false;
                }
                out->push_back(static_cast<char>(high * 16 + low));
            }
            return true;
        }
    }
}

class RegCommand {
  public:
    RegCommand(std::istream& in, std::ostream& out, std::ostream& err)
        : in_(in), out_(out), err_(err) {}

    int Run(const std::vector<std::string>& args) {
        if (args.empty() || args[0] == "/?" || args[0] == "-?") {
            Usage();
            return args.empty() ? 1 : 0;
        }
        const std::string& op = args[0];
        if (platform::EqualNoCase(op, "add")) {
            return Add(args);
        }
        if (platform::EqualNoCase(op, "query")) {
            return Query(args);
        }
        if (platform::EqualNoCase(op, "delete")) {
            return Delete(args);
        }
        if (platform::EqualNoCase(op, "import")) {
            return Import(args);
        }
        if (platform::EqualNoCase(op, "export")) {
            return Export(args);
        }
        err_ << "ERROR: Invalid syntax.\nType \"REG /?\" for usage.\n";
        return 1;
    }

  private:
    void Usage() {
        out_ << "REG Operation [Parameter List]\n\n"
                "  REG ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]\n"
                "  REG QUERY KeyName [/v ValueName | /ve]\n"
                "  REG DELETE KeyName [/v ValueName | /ve | /va] [/f]\n"
                "  REG IMPORT FileName\n"
                "  REG EXPORT KeyName FileName [/y]\n\n"
                "  KeyName   HKLM\\SubKey or HKCR\\SubKey (full root names accepted)\n"
                "  Type      REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, "
                "REG_BINARY, REG_NONE\n";
    }

    int Syntax(const std::string& op) {
        err_ << "ERROR: Invalid syntax.\nType \"REG " << op << " /?\" for usage.\n";
        return 1;
    }

    int Fail(long code) {
        err_ << "ERROR: " << ErrorText(code) << "\n";
        // Where the registry is a file, say what is wrong with it.
        if (const std::string reason = platform::RegistryFileError(); !reason.empty()) {
            err_ << reason << "\n";
        }
        return 1;
    }

    int Fail(const std::string& message) {
        err_ << "ERROR: " << message << "\n";
        return 1;
    }

    int Done() {
        out_ << kSuccess << "\n";
        return 0;
    }

    // A Yes/No question; anything but yes (or the end of input) is no.
    bool Confirm(const std::string& question) {
        out_ << question << " (Yes/No)? " << std::flush;
        std::string answer;
        if (!std::getline(in_, answer)) {
            out_ << "\n";
            return false;
        }
        while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) {
            answer.pop_back();
        }
        return platform::EqualNoCase(answer, "y") || platform::EqualNoCase(answer, "yes");
    }

    int Canceled() {
        out_ << "The operation was canceled by the user.\n";
        return 0;
    }

    bool KeyArgument(const std::vector<std::string>& args, std::size_t index, KeyArg* key) {
        if (args.size() <= index || !ParseKey(args[index], key)) {
            return false;
        }
        return true;
    }

    int Add(const std::vector<std::string>& args) {
        KeyArg key;
        Switches s;
        if (args.size() < 2 || !ParseSwitches(args, 2, "v ve t d s f", &s)) {
            return Syntax("ADD");
        }
        if (!KeyArgument(args, 1, &key)) {
            return Fail("Invalid key name.");
        }
        const std::optional<std::uint32_t> type = TypeFromName(s.type.value_or("REG_SZ"));
        if (!type) {
            return Fail("Invalid type \"" + *s.type + "\".");
        }
        std::string bytes;
        if (!EncodeData(*type, s.data.value_or(""), s.separator.value_or(""), &bytes)) {
            return Fail("Invalid data \"" + s.data.value_or("") + "\" for " + NameOfType(*type) +
                        ".");
        }
        platform::RegKeyHandle handle;
        long rc = platform::RegCreateKey(key.root, key.subKey, handle.Receive());
        if (rc != platform::kErrorSuccess) {
            return Fail(rc);
        }
        const bool named = s.valueName.has_value() || s.defaultValue;
        if (!named) {
            return Done();  // reg add KEY only creates the key
        }
        const std::string name = s.valueName.value_or("");
        if (!s.force && platform::RegQueryValue(handle.Get(), name, nullptr, nullptr, nullptr) ==
                            platform::kErrorSuccess) {
            if (!Confirm("Value " + (name.empty() ? std::string("(Default)") : name) +
                         " exists, overwrite")) {
                return Canceled();
            }
        }
        rc = platform::RegSetValue(handle.Get(), name, *type,
                                   reinterpret_cast<const unsigned char*>(bytes.data()),
                                   static_cast<std::uint32_t>(bytes.size()));
        return rc == platform::kErrorSuccess ? Done() : Fail(rc);
    }

    int Query(const std::vector<std::string>& args) {
        KeyArg key;
        Switches s;
        if (args.size() < 2 || !ParseSwitches(args, 2, "v ve", &s)) {
            return Syntax("QUERY");
        }
        if (!KeyArgument(args, 1, &key)) {
            return Fail("Invalid key name.");
        }
        platform::RegKeyHandle handle;
        long rc =
            platform::RegOpenKey(key.root, key.subKey, platform::RegAccess::Read, handle.Receive());
        if (rc != platform::kErrorSuccess) {
            return Fail(rc);
        }
        std::vector<platform::RegValue> values;
        rc = platform::RegEnumValues(handle.Get(), &values);
        if (rc != platform::kErrorSuccess) {
            return Fail(rc);
        }
        std::string text = "\n" + key.display + "\n";
        if (s.valueName.has_value() || s.defaultValue) {
            const std::string name = s.valueName.value_or("");
            const platform::RegValue* found = nullptr;
            for (const auto& v : values) {
                if (platform::EqualNoCase(v.name, name)) {
                    found = &v;
                }
            }
            if (found == nullptr) {
                return Fail(platform::kErrorFileNotFound);
            }
            out_ << text << ShowValueLine(found->name, found->type, found->data) << "\n\n";
            return 0;
        }
        for (const auto& v : values) {
            text += ShowValueLine(v.name, v.type, v.data) + "\n";
        }
        std::vector<std::string> subkeys;
        rc = platform::RegEnumSubKeys(handle.Get(), &subkeys);
        if (rc != platform::kErrorSuccess) {
            return Fail(rc);
        }
        if (!values.empty()) {
            text += "\n";
        }
        for (const std::string& sub : subkeys) {
            std::string shown;
            AppendShown(sub, &shown);
            text += key.display + "\\" + shown + "\n";
        }
        out_ << text;
        return 0;
    }

    int Delete(const std::vector<std::string>& args) {
        KeyArg key;
        Switches s;
        if (args.size() < 2 || !ParseSwitches(args, 2, "v ve va f", &s)) {
            return Syntax("DELETE");
        }
        if (!KeyArgument(args, 1, &key)) {
            return Fail("Invalid key name.");
        }
        if (!s.valueName.has_value() && !s.defaultValue && !s.allValues) {
            if (key.subKey.empty()) {
                return Fail("Invalid key name.");  // a root key is never deleted
            }
            if (!s.force && !Confirm("Permanently delete the registry key " + key.display)) {
                return Canceled();
            }
            const long rc = platform::RegDeleteTree(key.root, key.subKey);
            return rc == platform::kErrorSuccess ? Done() : Fail(rc);
        }
        platform::RegKeyHandle handle;
        long rc =
            platform::RegOpenKey(key.root, key.subKey, platform::RegAccess::All, handle.Receive());
        if (rc != platform::kErrorSuccess) {
            return Fail(rc);
        }
        if (s.allValues) {
            if (!s.force && !Confirm("Delete all values under the registry key " + key.display)) {
                return Canceled();
            }
            std::vector<platform::RegValue> values;
            rc = platform::RegEnumValues(handle.Get(), &values);
            for (std::size_t i = 0; rc == platform::kErrorSuccess && i < values.size(); ++i) {
                rc = platform::RegDeleteValue(handle.Get(), values[i].name);
            }
            return rc == platform::kErrorSuccess ? Done() : Fail(rc);
        }
        const std::string name = s.valueName.value_or("");
        if (platform::RegQueryValue(handle.Get(), name, nullptr, nullptr, nullptr) !=
            platform::kErrorSuccess) {
            return Fail(platform::kErrorFileNotFound);
        }
        if (!s.force && !Confirm("Delete the registry value " +
                                 (name.empty() ? std::string("(Default)") : name))) {
            return Canceled();
        }
        rc = platform::RegDeleteValue(handle.Get(), name);
        return rc == platform::kErrorSuccess ? Done() : Fail(rc);
    }

    int Import(const std::vector<std::string>& args) {
        if (args.size() != 2) {
            return Syntax("IMPORT");
        }
        std::string text;
        if (!platform::ReadFileBytes(args[1], platform::ShareMode::ReadWrite, &text,
                                     kMaxImportBytes)) {
            return Fail("Error opening the file. There may be a disk or file system error.");
        }
        std::vector<platform::regfile::Section> sections;
        platform::regfile::ParseError error;
        if (!platform::regfile::Parse(text, &sections, &error)) {
            return Fail(args[1] + (error.line > 0 ? ":" + std::to_string(error.line) : "") + ": " +
                        error.message);
        }
        // Refuse the whole file before changing anything when a root is not ours.
        for (const auto& section : sections) {
            if (platform::RegRootFromName(section.path.front()) == nullptr) {
                return Fail(args[1] + ":" + std::to_string(section.line) + ": only " +
                            "HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT can be imported");
            }
        }
        for (const auto& section : sections) {
            const long rc = ApplySection(section);
            if (rc != platform::kErrorSuccess) {
                return Fail(args[1] + ":" + std::to_string(section.line) + ": " + ErrorText(rc));
            }
        }
        return Done();
    }

    static long ApplySection(const platform::regfile::Section& section) {
        RegKey root = platform::RegRootFromName(section.path.front());
        std::string subKey;
        for (std::size_t i = 1; i < section.path.size(); ++i) {
            subKey += (i > 1 ? "\\" : "") + section.path[i];
        }
        if (section.remove) {
            const long rc = platform::RegDeleteTree(root, subKey);
            return rc == platform::kErrorFileNotFound ? platform::kErrorSuccess : rc;
        }
        platform::RegKeyHandle handle;
        long rc = platform::RegCreateKey(root, subKey, handle.Receive());
        if (rc != platform::kErrorSuccess) {
            return rc;
        }
        for (const auto& entry : section.entries) {
            if (entry.remove) {
                rc = platform::RegDeleteValue(handle.Get(), entry.value.name);
                rc = rc == platform::kErrorFileNotFound ? platform::kErrorSuccess : rc;
            } else {
                rc = platform::RegSetValue(
                    handle.Get(), entry.value.name, entry.value.type,
                    reinterpret_cast<const unsigned char*>(entry.value.data.data()),
                    static_cast<std::uint32_t>(entry.value.data.size()));
            }
            if (rc != platform::kErrorSuccess) {
                break;
            }
        }
        return rc;
    }

    // Copies an open key and everything below it into node.
    static long ReadTree(RegKey handle, platform::regfile::Node* node, std::size_t depth) {
        if (depth > kMaxDepth) {
            return platform::kErrorInvalidParameter;
        }
        std::vector<platform::RegValue> values;
        long rc = platform::RegEnumValues(handle, &values);
        if (rc != platform::kErrorSuccess) {
            return rc;
        }
        for (auto& v : values) {
            node->SetValue(v.name, v.type, std::move(v.data));
        }
        std::vector<std::string> subkeys;
        rc = platform::RegEnumSubKeys(handle, &subkeys);
        if (rc != platform::kErrorSuccess) {
            return rc;
        }
        for (const std::string& name : subkeys) {
            platform::RegKeyHandle sub;
            rc = platform::RegOpenKey(handle, name, platform::RegAccess::Read, sub.Receive());
            if (rc == platform::kErrorFileNotFound) {
                continue;  // removed meanwhile
            }
            if (rc != platform::kErrorSuccess) {
                return rc;
            }
            rc = ReadTree(sub.Get(), node->AddSubkey(name), depth + 1);
            if (rc != platform::kErrorSuccess) {
                return rc;
            }
        }
        return platform::kErrorSuccess;
    }

    int Export(const std::vector<std::string>& args) {
        KeyArg key;
        Switches s;
        if (args.size() < 3 || !ParseSwitches(args, 3, "y", &s)) {
            return Syntax("EXPORT");
        }
        if (!KeyArgument(args, 1, &key)) {
            return Fail("Invalid key name.");
        }
        platform::RegKeyHandle handle;
        long rc =
            platform::RegOpenKey(key.root, key.subKey, platform::RegAccess::Read, handle.Receive());
        if (rc != platform::kErrorSuccess) {
            return Fail(rc);
        }
        platform::regfile::Node tree;
        rc = ReadTree(handle.Get(), &tree, 0);
        handle.Close();
        if (rc != platform::kErrorSuccess) {
            return Fail(rc);
        }
        const std::string& file = args[2];
        if (!s.yes && platform::FileExists(file) &&
            !Confirm("File " + file + " already exists. Overwrite")) {
            return Canceled();
        }
        if (!platform::ReplaceFileBytes(file,
                                        platform::regfile::SerialiseSubtree(tree, key.display))) {
            return Fail("Unable to write to the file. There may be a disk or file system error.");
        }
        return Done();
    }

    std::istream& in_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace

int RunRegCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err) {
    return RegCommand(in, out, err).Run(args);
}

int RunRegCommand(const std::vector<std::string>& args) {
    return RunRegCommand(args, std::cin, std::cout, std::cerr);
}
