// The scripted loopback SMTP server of the mail sender's tests (see the header).
#include "tests/support/scripted_smtp_server.h"

#include <chrono>

#include "platform/thread.h"

namespace testing_support {
namespace {

constexpr int kStepTimeoutMs = 5000;

}  // namespace

ScriptedSmtpServer::ScriptedSmtpServer() {
    platform::SocketStartup();
    listener = platform::SocketListenLoopback(0);
    if (listener != platform::kInvalidSocket) {
        port = platform::SocketLocalPort(listener);
    }
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
    if (worker.joinable()) {
        worker.join();
    }
    platform::SocketClose(client);
    platform::SocketClose(listener);
}

ScriptedSmtpServer& ScriptedSmtpServer::Say(std::string bytes) {
    script.push_back({Step::Say, std::move(bytes), 0, nullptr});
    return *this;
}

ScriptedSmtpServer& ScriptedSmtpServer::Trickle(std::string bytes, int gapMs) {
    script.push_back({Step::Trickle, std::move(bytes), gapMs, nullptr});
    return *this;
}

ScriptedSmtpServer& ScriptedSmtpServer::Hear() {
    script.push_back({Step::Hear, {}, 0, nullptr});
    return *this;
}

ScriptedSmtpServer& ScriptedSmtpServer::Reply(std::string bytes) {
    Hear();
    return Say(std::move(bytes));
}

ScriptedSmtpServer& ScriptedSmtpServer::HearData() {
    script.push_back({Step::HearData, {}, 0, nullptr});
    return *this;
}

ScriptedSmtpServer& ScriptedSmtpServer::HearUntilClose() {
    script.push_back({Step::HearUntilClose, {}, 0, nullptr});
    return *this;
}

ScriptedSmtpServer& ScriptedSmtpServer::Wait(int milliseconds) {
    script.push_back({Step::Wait, {}, milliseconds, nullptr});
    return *this;
}

ScriptedSmtpServer& ScriptedSmtpServer::Hangup() {
    script.push_back({Step::Hangup, {}, 0, nullptr});
    return *this;
}

ScriptedSmtpServer& ScriptedSmtpServer::Respond(
    std::function<std::string(const std::string&)> answer) {
    script.push_back({Step::Respond, {}, 0, std::move(answer)});
    return *this;
}

void ScriptedSmtpServer::Start() {
    worker = std::thread([this] { Run(); });
}

bool ScriptedSmtpServer::Fill(int timeoutMs) {
    if (client == platform::kInvalidSocket ||
        platform::SocketWaitReadable(client, static_cast<std::uint32_t>(timeoutMs)) <= 0) {
        return false;
    }
    char buffer[4096];
    long n = platform::SocketReceive(client, buffer, sizeof buffer);
    if (n <= 0) {
        return false;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool ScriptedSmtpServer::SendAll(const char* next, std::size_t left) {
    while (left > 0) {
        long n = platform::SocketSend(client, next, left);
        if (n <= 0) {
            return false;
        }
        next += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ScriptedSmtpServer::ReadLine(std::string* line, int timeoutMs) {
    for (;;) {
        std::size_t end = pending.find("\r\n");
        if (end != std::string::npos) {
            *line = pending.substr(0, end);
            pending.erase(0, end + 2);
            return true;
        }
        if (!Fill(timeoutMs)) {
            return false;
        }
    }
}

void ScriptedSmtpServer::Run() {
    client = platform::SocketAccept(listener, kStepTimeoutMs);
    if (client == platform::kInvalidSocket) {
        std::lock_guard<std::mutex> guard(lock);
        timedOut = true;
        return;
    }
    bool ok = true;
    for (Step& step : script) {
        if (!ok) {
            break;
        }
        switch (step.kind) {
            case Step::Say:
                SendAll(step.bytes.data(), step.bytes.size());
                break;
            case Step::Trickle:
                for (char c : step.bytes) {
                    platform::SleepMilliseconds(step.milliseconds);
                    // A client that has closed shows as readable (end of stream) before a
                    // send to it fails; either way the rest is not worth sending.
                    if (platform::SocketWaitReadable(client, 0) > 0 || !SendAll(&c, 1)) {
                        ok = false;
                        break;
                    }
                }
                break;
            case Step::Hear:
            case Step::Respond: {
                std::string line;
                if (!ReadLine(&line, kStepTimeoutMs)) {
                    std::lock_guard<std::mutex> guard(lock);
                    timedOut = true;
                    ok = false;
                    break;
                }
                {
                    std::lock_guard<std::mutex> guard(lock);
                    heard.push_back(line);
                }
                if (step.kind == Step::Respond) {
                    std::string answer = step.answer(line);
                    platform::SocketSend(client, answer.data(), answer.size());
                }
                break;
            }
            case Step::HearData: {
                std::size_t end;
                while ((end = pending.find("\r\n.\r\n")) == std::string::npos) {
                    if (!Fill(kStepTimeoutMs)) {
                        std::lock_guard<std::mutex> guard(lock);
                        timedOut = true;
                        ok = false;
                        break;
                    }
                }
                if (!ok) {
                    break;
                }
                std::lock_guard<std::mutex> guard(lock);
                data = pending.substr(0, end);
                heard.push_back(data);
                pending.erase(0, end + 5);
                break;
            }
            case Step::HearUntilClose: {
                const auto deadline =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(kStepTimeoutMs);
                // Fill fails at the end of the stream, or when the deadline is near.
                while (std::chrono::steady_clock::now() < deadline && Fill(kStepTimeoutMs)) {
                }
                std::lock_guard<std::mutex> guard(lock);
                heard.push_back(pending);
                pending.clear();
                platform::SocketClose(client);
                client = platform::kInvalidSocket;
                break;
            }
            case Step::Wait:
                platform::SleepMilliseconds(step.milliseconds);
                break;
            case Step::Hangup:
                platform::SocketClose(client);
                client = platform::kInvalidSocket;
                break;
        }
    }
}

std::vector<std::string> ScriptedSmtpServer::Finish(int drainLimitMs) {
    if (worker.joinable()) {
        worker.join();
    }
    // What the client sends after the script: recorded until it closes.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(drainLimitMs);
    std::string line;
    while (client != platform::kInvalidSocket) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0 || !ReadLine(&line, static_cast<int>(left))) {
            break;
        }
        heard.push_back(line);
    }
    if (!pending.empty()) {
        heard.push_back(pending);  // a last line without its line end
        pending.clear();
    }
    std::lock_guard<std::mutex> guard(lock);
    return heard;
}

std::string ScriptedSmtpServer::Data() const {
    std::lock_guard<std::mutex> guard(lock);
    return data;
}

}  // namespace testing_support
