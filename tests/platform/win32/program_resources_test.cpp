// The resources of the built programs, read back as Windows reads them: every event the code
// logs finds its text in the message table of the program its source names (with the type
// the code logs it with), and each program carries version information of this build and a
// manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailer/sender_events.h"
#include "service/service_events.h"

namespace {

// The build tree: the test program sits in its tests folder.
std::string BuildDir() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    for (int up = 0; up < 2; ++up) {
        dir.erase(dir.find_last_of("\\/"));
    }
    return dir;
}

const std::string kTallyvane = BuildDir() + "\\service\\Tallyvane.exe";
const std::string kPostvane = BuildDir() + "\\mailer\\Postvane.exe";
const std::string kTallyctl = BuildDir() + "\\tools\\tallyctl.exe";

class Program {
  public:
    explicit Program(const std::string& path)
        : module_(::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~Program() {
        if (module_ != nullptr) {
            ::FreeLibrary(module_);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    bool Loaded() const { return module_ != nullptr; }
    HMODULE Module() const { return module_; }

    // The event's text as Event Viewer forms it from the one insertion string; false when
    // the table has no such entry.
    bool Format(platform::EventId event, const std::string& insertion, std::string* text) const {
        DWORD_PTR args[1] = {reinterpret_cast<DWORD_PTR>(insertion.c_str())};
        char buffer[1024] = {};
        const DWORD n = ::FormatMessageA(
            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module_,
            platform::MessageTableId(event), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), buffer,
            sizeof buffer, reinterpret_cast<va_list*>(args));
        text->assign(buffer, n);
        return n > 0;
    }

  private:
    HMODULE module_;
};

TEST(MessageTable, TheServiceMessagesReadAsTheCodeWritesThem) {
    Program tallyvane(kTallyvane);
    ASSERT_TRUE(tallyvane.Loaded()) << kTallyvane;
    for (const ServiceEvent* event : service_event::kFixed) {
        std::string text;
        EXPECT_TRUE(tallyvane.Format(event->id, event->text, &text)) << event->text;
        EXPECT_EQ(text, event->text);
    }
    std::string note;
    EXPECT_TRUE(tallyvane.Format(service_event::kVerboseNote, "a note", &note));
    EXPECT_EQ(note, "a note");
}

// Postvane's source names Postvane.exe, or Tallyvane.exe where the sender is not beside it:
// both carry every outcome, and each shows the run's line.
TEST(MessageTable, EveryOutcomeOfTheSenderShowsItsLine) {
    for (const std::string& path : {kPostvane, kTallyvane}) {
        Program program(path);
        ASSERT_TRUE(program.Loaded()) << path;
        for (const SenderEvent& event : kSenderEvents) {
            std::string text;
            EXPECT_TRUE(program.Format(event.id, "Postvane: the line", &text))
                << path << ", exit status " << event.exitStatus;
            EXPECT_NE(text.find("Postvane: the line"), std::string::npos) << text;
        }
    }
}

std::string VersionValue(const std::vector<char>& block, const char* name) {
    char* value = nullptr;
    UINT size = 0;
    const std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!::VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &size) ||
        size == 0) {
        return "";
    }
    return std::string(value, size - 1);
}

TEST(ProgramResources, EachProgramCarriesThisBuildsVersionAndAManifest) {
    const struct {
        const std::string& path;
        const char* originalName;
    } programs[] = {
        {kTallyvane, "Tallyvane.EXE"}, {kPostvane, "Postvane.exe"}, {kTallyctl, "tallyctl.exe"}};
    for (const auto& p : programs) {
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeA(p.path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << p.path;
        std::vector<char> block(size);
        ASSERT_TRUE(::GetFileVersionInfoA(p.path.c_str(), 0, size, block.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT fixedSize = 0;
        ASSERT_TRUE(
            ::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
        EXPECT_EQ(fixed->dwFileVersionMS, TALLY_VERSION_MS) << p.path;
        EXPECT_EQ(fixed->dwFileVersionLS, TALLY_VERSION_LS) << p.path;
        EXPECT_EQ(VersionValue(block, "FileVersion"), TALLY_VERSION_TEXT) << p.path;
        EXPECT_EQ(VersionValue(block, "OriginalFilename"), p.originalName);
        EXPECT_FALSE(VersionValue(block, "CompanyName").empty()) << p.path;
        EXPECT_FALSE(VersionValue(block, "FileDescription").empty()) << p.path;

        Program program(p.path);
        ASSERT_TRUE(program.Loaded()) << p.path;
        HMODULE module = program.Module();
        HRSRC manifest = ::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
        ASSERT_NE(manifest, nullptr) << p.path;
        const char* xml =
            static_cast<const char*>(::LockResource(::LoadResource(module, manifest)));
        const std::string text(xml, ::SizeofResource(module, manifest));
        EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos) << p.path;
        EXPECT_NE(text.find("supportedOS"), std::string::npos) << p.path;
    }
}

}  // namespace
