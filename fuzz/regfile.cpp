// Fuzzes the .reg text parser. No text may crash it or trip a sanitizer; a refusal names a
// line of the text and says why; and whatever it accepts survives being written and read
// again unchanged, as the Linux registry rewrites its file on every change: the second
// tree equals the first and writing it again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/check.h"
#include "platform/regfile.h"

namespace rf = platform::regfile;

namespace {

// A root key with nothing in it writes no line (every registry has its roots anyway), so
// only the second read lacks it.
bool IsEmptyRoot(const rf::Node& root) {
    return root.Values().empty() && !root.HasSubkeys();
}

bool SameValues(const rf::Node& a, const rf::Node& b) {
    const std::vector<rf::Value>& va = a.Values();
    const std::vector<rf::Value>& vb = b.Values();
    if (va.size() != vb.size()) {
        return false;
    }
    for (std::size_t i = 0; i < va.size(); ++i) {
        if (va[i].name != vb[i].name || va[i].type != vb[i].type || va[i].data != vb[i].data) {
            return false;
        }
    }
    return true;
}

// Names, values in order and subkeys in order, all the way down; without recursion, as
// trees may be as deep as the format allows.
bool SameTree(const rf::Node& topA, const rf::Node& topB) {
    std::vector<const rf::Node*> rootsA;
    for (const rf::Node* root : topA.SortedSubkeys()) {
        if (!IsEmptyRoot(*root)) {
            rootsA.push_back(root);
        }
    }
    const std::vector<const rf::Node*> rootsB = topB.SortedSubkeys();
    if (rootsA.size() != rootsB.size()) {
        return false;
    }
    std::vector<std::pair<const rf::Node*, const rf::Node*>> pending;
    for (std::size_t i = 0; i < rootsA.size(); ++i) {
        pending.emplace_back(rootsA[i], rootsB[i]);
    }
    while (!pending.empty()) {
        const auto [a, b] = pending.back();
        pending.pop_back();
        if (a->name != b->name || !SameValues(*a, *b)) {
            return false;
        }
        const std::vector<const rf::Node*> subA = a->SortedSubkeys();
        const std::vector<const rf::Node*> subB = b->SortedSubkeys();
        if (subA.size() != subB.size()) {
            return false;
        }
        for (std::size_t i = 0; i < subA.size(); ++i) {
            pending.emplace_back(subA[i], subB[i]);
        }
    }
    return true;
}

std::size_t LineCount(std::string_view text) {
    std::size_t lines = 0;
    for (char c : text) {
        lines += c == '\n';
    }
    return lines + 1;
}

void CheckKeyPath(std::string_view path) {
    std::vector<std::string> parts;
    if (!rf::SplitKeyPath(path, true, &parts)) {
        return;
    }
    FUZZ_CHECK(!parts.empty() && parts.size() <= rf::kMaxKeyDepth);
    FUZZ_CHECK(rf::CanonicalRoot(parts.front()) == parts.front());
    for (const std::string& part : parts) {
        FUZZ_CHECK(rf::IsStorableKeyName(part));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The admin tool takes key paths from its command line: the text as one such path.
    CheckKeyPath(text.substr(0, text.find('\n')));

    std::vector<rf::Section> sections;
    rf::ParseError error;
    if (!rf::Parse(text, &sections, &error)) {
        FUZZ_CHECK(!error.message.empty());
        FUZZ_CHECK(error.line >= 0 && static_cast<std::size_t>(error.line) <= LineCount(text));
        return 0;
    }
    rf::Node first;
    rf::Apply(sections, &first);
    const std::string written = rf::Serialise(first);

    FUZZ_CHECK(rf::Parse(written, &sections, &error));
    rf::Node second;
    rf::Apply(sections, &second);
    FUZZ_CHECK(SameTree(first, second));
    FUZZ_CHECK(rf::Serialise(second) == written);
    return 0;
}
