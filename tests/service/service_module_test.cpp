// The service shell: command line, registration keys, run modes, status and control handling.
#include "service/service_module.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "aggregator/aggregator_worker.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "tests/support/test_env.h"

namespace {

using testing_support::Exists;
using testing_support::ReadAll;

TEST(CommandLine, KeywordsMatchOnlyAsTheLastThingAfterASeparator) {
    const struct {
        const char* line;
        CommandKeyword keyword;
    } cases[] = {
        {"C:\\Program Files\\Proxy\\Tallyvane.exe -service", CommandKeyword::Service},
        {"Tallyvane.exe /Service", CommandKeyword::Service},
        {"Tallyvane.exe /Service now", CommandKeyword::None},
        {"Tallyvane.exe -RegServer", CommandKeyword::RegServer},
        {"Tallyvane.exe -UNREGSERVER", CommandKeyword::UnregServer},
        {"C:\\my-tools\\Tallyvane.exe", CommandKeyword::None},  // a hyphen in the path
        {"/opt/brisko/tallyvane", CommandKeyword::None},
        {"tallyvane --Service", CommandKeyword::Service},  // the second "-" starts "Service"
        {"tallyvane -x -Service", CommandKeyword::Service},
        {"", CommandKeyword::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScanCommandLine(c.line), c.keyword) << c.line;
    }
}

// Records what the module does with the operating system.
struct FakeOs {
    std::vector<std::uint32_t> states;
    std::vector<std::string> boxes, events, console;
    std::map<std::string, std::string> eventSources;  // source: its message file
    bool installed = false;
    platform::ServiceData installedWith;
    bool dispatcherAccepts = false;
    platform::ScmResult installResult = platform::ScmResult::Ok;

    ServicePlatform Make() {
        ServicePlatform os;
        os.startDispatcher = [this](const std::string&, platform::ServiceMainFunction main) {
            if (!dispatcherAccepts) {
                return false;
            }
            main();
            return true;
        };
        os.registerHandler = [](const std::string&, platform::ControlHandlerFunction) {
            return true;
        };
        os.reportStatus = [this](const platform::ServiceStatus& s) {
            states.push_back(s.currentState);
        };
        os.isInstalled = [this](const std::string&) { return installed; };
        os.install = [this](const std::string&, const std::string&,
                            const platform::ServiceData& data) {
            if (installResult == platform::ScmResult::Ok) {
                installed = true;
                installedWith = data;
            }
            return installResult;
        };
        os.uninstall = [this](const std::string&) {
            installed = false;
            return platform::ScmResult::Ok;
        };
        os.messageBox = [this](const std::string&, const std::string& t) { boxes.push_back(t); };
        os.installEventSource = [this](const std::string& source, const std::string& file) {
            eventSources[source] = file;
            return true;
        };
        os.removeEventSource = [this](const std::string& source) {
            eventSources.erase(source);
            return true;
        };
        os.eventLog = [this](const std::string& t) { events.push_back(t); };
        os.console = [this](const std::string& t) { console.push_back(t); };
        os.programPath = [] { return std::string("/opt/brisko/tallyvane"); };
        return os;
    }
};

class ServiceModuleTest : public testing_support::RegistryTest {
  protected:
    bool HasHkcrValue(const std::string& key, const std::string& name, std::string* value) {
        platform::RegKey k = nullptr;
        if (platform::RegOpenKey(platform::RegClassesRoot(), key, platform::RegAccess::Read, &k) !=
            platform::kErrorSuccess) {
            return false;
        }
        unsigned char buffer[512] = {};
        std::uint32_t size = sizeof buffer - 1;
        long rc = platform::RegQueryValue(k, name, nullptr, buffer, &size);
        platform::RegCloseKey(k);
        if (value) {
            *value = reinterpret_cast<const char*>(buffer);
        }
        return rc == platform::kErrorSuccess;
    }
    const std::string appKey_ = "AppID\\{1B9D4CC0-FE54-418D-BDDF-036639A2A4FE}";
};

TEST_F(ServiceModuleTest, ServiceRegistrationWritesTheKeysAndInstalls) {
    FakeOs fake;
    ServiceModule module(fake.Make());
    testing_support::SetRegString("apppath", "/opt/brisko/");
    EXPECT_EQ(module.RegisterServer(true), 0);
    // The manager learns what the service will read and write.
    EXPECT_EQ(fake.installedWith.installation, "/opt/brisko/");
    EXPECT_EQ(fake.installedWith.logFolders, std::vector<std::string>{"/opt/brisko/Logs/"});
    EXPECT_EQ(fake.installedWith.readFiles, std::vector<std::string>{"/opt/brisko/brisko.users"});
    EXPECT_EQ(fake.installedWith.runFiles, std::vector<std::string>{"/opt/brisko/postvane"});
    std::string v;
    ASSERT_TRUE(HasHkcrValue(appKey_, "", &v));
    EXPECT_EQ(v, "Tallyvane");
    ASSERT_TRUE(HasHkcrValue("AppID\\Tallyvane.EXE", "AppID", &v));
    EXPECT_EQ(v, "{1B9D4CC0-FE54-418D-BDDF-036639A2A4FE}");
    ASSERT_TRUE(HasHkcrValue(appKey_, "LocalService", &v));
    EXPECT_EQ(v, "Tallyvane");
    ASSERT_TRUE(HasHkcrValue(appKey_, "ServiceParameters", &v));
    EXPECT_EQ(v, "-Service");
    ASSERT_TRUE(HasHkcrValue("TypeLib\\{C9E6C24E-05EA-41F2-8E33-7306D958BDEF}\\1.0", "", &v));
    EXPECT_EQ(v, "Tallyvane 1.0 Type Library");
    EXPECT_TRUE(fake.installed);
    // No sender beside the program: the program's own table serves the sender's source too.
    const std::map<std::string, std::string> sources = {{"Tallyvane", "/opt/brisko/tallyvane"},
                                                        {"Postvane", "/opt/brisko/tallyvane"}};
    EXPECT_EQ(fake.eventSources, sources);

    // Registering as an ordinary process removes the service and the LocalService value.
    EXPECT_EQ(module.RegisterServer(false), 0);
    EXPECT_FALSE(fake.installed);
    EXPECT_FALSE(HasHkcrValue(appKey_, "LocalService", nullptr));
    EXPECT_EQ(fake.eventSources, sources);

    EXPECT_EQ(module.UnregisterServer(), 0);
    EXPECT_TRUE(fake.eventSources.empty());
    EXPECT_FALSE(HasHkcrValue(appKey_, "", nullptr));
    EXPECT_FALSE(HasHkcrValue("AppID\\Tallyvane.EXE", "AppID", nullptr));
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(ServiceModuleTest, TheSendersEventSourceNamesTheSenderBesideTheProgram) {
    FakeOs fake;
    ServicePlatform os = fake.Make();
    const std::string program = scratch_ / "tallyvane";
    testing_support::WriteAll(scratch_ / "postvane", "");
    os.programPath = [program] { return program; };
    ServiceModule module(std::move(os));
    EXPECT_EQ(module.RegisterServer(false), 0);
    EXPECT_EQ(fake.eventSources["Tallyvane"], program);
    EXPECT_EQ(fake.eventSources["Postvane"], scratch_ / "postvane");
}

TEST_F(ServiceModuleTest, InstallFailuresShowTheirMessageBoxes) {
    const struct {
        platform::ScmResult result;
        const char* box;
    } cases[] = {
        {platform::ScmResult::NoManager, "Couldn't open service manager"},
        {platform::ScmResult::CannotCreate, "Couldn't create service"},
    };
    for (const auto& c : cases) {
        FakeOs fake;
        fake.installResult = c.result;
        ServiceModule module(fake.Make());
        module.RegisterServer(true);
        EXPECT_EQ(fake.boxes, std::vector<std::string>{c.box});
    }
}

TEST_F(ServiceModuleTest, RunWithoutRegistrationEndsWithTheRegistryError) {
    FakeOs fake;
    ServiceModule module(fake.Make());
    testing_support::SetRegString("apppath", scratch_.Path() + "/");
    platform::FixedClock clock(0);
    testing_support::RecordingPacer pacer;
    AggregatorWorker worker(clock, pacer, {});
    EXPECT_EQ(module.Main("tallyvane", worker), platform::kErrorFileNotFound);
    EXPECT_TRUE(fake.console.empty());
}

TEST_F(ServiceModuleTest, ServiceModeRunsTheStatusSequenceAndStopsOnTheStopControl) {
    FakeOs fake;
    fake.dispatcherAccepts = true;
    ServiceModule module(fake.Make());
    ASSERT_EQ(module.RegisterServer(true), 0);
    testing_support::SetRegString("apppath", scratch_.Path() + "/");
    platform::SystemClock clock;
    platform::StoppablePacer pacer(true);
    AggregatorWorker worker(clock, pacer, {});
    std::thread controller([&] {
        platform::SleepMilliseconds(100);
        module.Handler(4);   // interrogate: nothing
        module.Handler(99);  // unknown: a message
        module.Handler(1);   // stop
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(module.Main("tallyvane.exe", worker), 0);
    controller.join();
    // A hang guard: a worker that missed the stop would be terminated only after 5 s; the
    // whole run takes some 100 ms when idle.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(fake.states, (std::vector<std::uint32_t>{
                               platform::kServiceStartPending, platform::kServiceRunning,
                               platform::kServiceStopPending, platform::kServiceStopped}));
    EXPECT_EQ(fake.events, (std::vector<std::string>{"Service started", "Bad service request",
                                                     "Service stopped"}));
    EXPECT_FALSE(worker.Running());
}

TEST_F(ServiceModuleTest, ARefusedDispatcherRunsAsAnOrdinaryProcess) {
    FakeOs fake;
    ServiceModule module(fake.Make());
    ASSERT_EQ(module.RegisterServer(true), 0);
    testing_support::SetRegString("apppath", "");
    platform::SystemClock clock;
    platform::StoppablePacer pacer(true);
    // No application path: the worker asks to quit before the loop runs; it ends at once.
    AggregatorWorker worker(
        clock, pacer,
        {[&](const std::string& t) { module.LogMessage(t); }, [&] { module.RequestQuit(); }});
    EXPECT_EQ(module.Main("tallyvane.exe", worker), 0);
    EXPECT_FALSE(module.ServiceMode());
    EXPECT_EQ(fake.console, std::vector<std::string>{"Service started"});
    ASSERT_EQ(fake.events.size(), 1u);  // the message came while service mode was still set
    EXPECT_EQ(fake.events[0].substr(0, 40), "Unable to get the Brisko Web Proxy path ");
    EXPECT_TRUE(fake.states.empty());
}

// The real program on Linux: registration, the systemd unit, and a stop by SIGTERM.
class ServiceProgramTest : public testing_support::RegistryTest {
  protected:
    std::string Program() const {
        std::string path = std::string(TALLY_TEST_BUILD_DIR) + "/service/tallyvane";
        std::error_code ec;
        auto canonical = std::filesystem::canonical(path, ec);
        return ec ? path : canonical.string();
    }
    int RunToEnd(const std::string& arg) {
        std::string cmd = "'" + Program() + "' " + arg + " >/dev/null 2>&1";
        return std::system(cmd.c_str());
    }
};

TEST_F(ServiceProgramTest, ServiceRegistrationWritesASystemdUnitAndUnregistrationRemovesIt) {
    if (!Exists(Program())) {
        GTEST_SKIP() << "program not built";
    }
    // A systemd of our own: a running manager and a systemctl that records its calls.
    const std::string root = scratch_ / "root";
    const std::string calls = scratch_ / "calls";
    std::filesystem::create_directories(root + "/run/systemd/system");
    testing_support::WriteAll(root + "/usr/bin/systemctl",
                              "#!/bin/sh\necho \"$*\" >> '" + calls + "'\n");
    std::filesystem::permissions(root + "/usr/bin/systemctl", std::filesystem::perms::owner_all);
    setenv("TALLY_SYSTEMD_ROOT", root.c_str(), 1);
    ASSERT_EQ(RunToEnd("-Service"), 0);
    const std::string unitPath = root + "/etc/systemd/system/tallyvane.service";
    std::string unit = ReadAll(unitPath);
    EXPECT_NE(unit.find("\nExecStart=\"" + Program() + "\"\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nEnvironment=\"BRISKO_REGISTRY=" + registryFile_ + "\"\n"),
              std::string::npos)
        << unit;
    // The packaged unit, line for line, but for the values of the installation in use.
    const std::string packaged =
        ReadAll(std::string(TALLY_TEST_SOURCE_DIR) + "/../service/tallyvane.service");
    std::istringstream written(unit), source(packaged);
    std::string line, expected;
    int lines = 0;
    while (std::getline(source, expected)) {
        ASSERT_TRUE(std::getline(written, line)) << "missing: " << expected;
        ++lines;
        const std::string key = expected.substr(0, expected.find('=') + 1);
        if (key == "ExecStart=" || key == "Environment=" || key == "User=" ||
            key == "CapabilityBoundingSet=" || key == "ReadWritePaths=") {
            EXPECT_EQ(line.substr(0, key.size()), key);
        } else {
            EXPECT_EQ(line, expected);
        }
    }
    EXPECT_FALSE(std::getline(written, line)) << "extra: " << line;
    EXPECT_GT(lines, 20);
    ASSERT_EQ(RunToEnd("-UnregServer"), 0);
    EXPECT_FALSE(Exists(unitPath));
    // Stopped and disabled before the unit went, then the manager told.
    EXPECT_EQ(ReadAll(calls),
              "stop --no-block tallyvane.service\ndisable tallyvane.service\ndaemon-reload\n");
    unsetenv("TALLY_SYSTEMD_ROOT");
}

TEST_F(ServiceProgramTest, TheUnitQuotesAProgramPathWithSpacesAndSpecialCharacters) {
    if (!Exists(Program())) {
        GTEST_SKIP() << "program not built";
    }
    const std::string root = scratch_ / "root";
    const std::string dir = scratch_ / "Brisko Proxy 100%";
    std::filesystem::create_directories(dir);
    const std::string program = dir + "/tallyvane";
    std::filesystem::copy_file(Program(), program);
    setenv("TALLY_SYSTEMD_ROOT", root.c_str(), 1);
    const std::string cmd = "'" + program + "' -Service >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string unit = ReadAll(root + "/etc/systemd/system/tallyvane.service");
    EXPECT_NE(unit.find("\nExecStart=\"" + scratch_.Path() + "/Brisko Proxy 100%%/tallyvane\"\n"),
              std::string::npos)
        << unit;
    unsetenv("TALLY_SYSTEMD_ROOT");
}

TEST_F(ServiceProgramTest, AnOrdinaryProcessStopsOnSigtermAndExitsZero) {
    if (!Exists(Program())) {
        GTEST_SKIP() << "program not built";
    }
    testing_support::SetRegString("apppath", scratch_.Path() + "/");
    ASSERT_EQ(RunToEnd("-RegServer"), 0);
    // What an earlier run killed mid-write left: swept at the start.
    pid_t gone = fork();
    if (gone == 0) {
        _exit(0);
    }
    waitpid(gone, nullptr, 0);
    const std::string suffix = ".tmp" + std::to_string(gone) + "_0";
    const std::vector<std::string> stale = {registryFile_ + suffix,
                                            scratch_ / ("week.xml" + suffix),
                                            scratch_ / ("Logs/brisko.trf" + suffix)};
    for (const std::string& path : stale) {
        testing_support::WriteAll(path, "half");
    }
    std::string out = scratch_ / "out.txt";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FILE* f = freopen(out.c_str(), "w", stdout);
        (void)f;
        execl(Program().c_str(), Program().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Hang guards of 30 s: the program starts and cleans up in some 100 ms when idle.
    for (int i = 0; i < 3000 && ReadAll(out).empty(); ++i) {
        platform::SleepMilliseconds(10);
    }
    EXPECT_EQ(ReadAll(out), "Service started\n");
    for (int i = 0; i < 3000 && Exists(stale.back()); ++i) {
        platform::SleepMilliseconds(10);
    }
    for (const std::string& path : stale) {
        EXPECT_FALSE(Exists(path)) << path;
    }
    auto start = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    // A hang guard: a worker that missed the stop would be terminated only after 5 s; the
    // program ends within some 100 ms when idle.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
