// A loopback SMTP server of our own for the mail sender's tests: it accepts one connection
// and plays a script (send these bytes, read a line, read message data, answer through a
// function, pause, hang up), recording everything the client sent. Every wait is bounded, so
// a client that misbehaves fails the test instead of hanging it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace testing_support {

class ScriptedSmtpServer {
  public:
    ScriptedSmtpServer();
    ~ScriptedSmtpServer();
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    std::uint16_t Port() const { return port; }

    // Script steps, played in order once the client has connected.
    ScriptedSmtpServer& Say(std::string bytes);  // sends bytes as they are
    // Sends bytes one at a time with a pause before each; stops when the client has gone.
    ScriptedSmtpServer& Trickle(std::string bytes, int gapMs);
    ScriptedSmtpServer& Hear();                    // reads one line
    ScriptedSmtpServer& Reply(std::string bytes);  // Hear, then Say
    ScriptedSmtpServer& HearData();                // reads data up to CRLF.CRLF
    ScriptedSmtpServer& HearUntilClose();          // reads everything until the client closes
    ScriptedSmtpServer& Wait(int milliseconds);
    ScriptedSmtpServer& Hangup();  // closes the connection
    // Reads one line and sends what answer returns for it.
    ScriptedSmtpServer& Respond(std::function<std::string(const std::string&)> answer);

    // Starts the script on its own thread.
    void Start();
    // Waits for the script, then records what else the client sends until it closes (at
    // most drainMs). Returns every line the client sent, without line ends; message data is
    // one entry holding everything between DATA's 354 and the final dot line, and what
    // HearUntilClose read is one entry as it was on the wire.
    std::vector<std::string> Finish(int drainMs = 2000);
    // The last message data read by HearData, as it was on the wire (dot line excluded).
    std::string Data() const;
    // True when a step's wait ran out (the client did not send what the script expected).
    bool TimedOut() const { return timedOut; }

  private:
    struct Step {
        enum Kind { Say, Trickle, Hear, HearData, HearUntilClose, Wait, Hangup, Respond } kind;
        std::string bytes;
        int milliseconds = 0;
        std::function<std::string(const std::string&)> answer;
    };
    void Run();
    bool ReadLine(std::string* line, int timeoutMs);
    bool Fill(int timeoutMs);  // one receive into pending; false on close/time-out
    bool SendAll(const char* bytes, std::size_t length);  // false once the client has gone

    platform::SocketHandle listener = platform::kInvalidSocket;
    platform::SocketHandle client = platform::kInvalidSocket;
    std::uint16_t port = 0;
    std::vector<Step> script;
    std::thread worker;
    std::string pending;
    std::vector<std::string> heard;
    std::string data;
    bool timedOut = false;
    mutable std::mutex lock;
};

}  // namespace testing_support
