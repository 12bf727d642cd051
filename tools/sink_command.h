// `tallyctl sink`: a small SMTP server on 127.0.0.1 that takes the mail sender's messages when
// no mail server is configured, so reports can be mailed on a machine without one. Each
// message is saved exactly as received (dot-stuffing undone) as DIR/mail-<n>.eml and its path
// printed ("saved PATH"). Every line and every message is bounded and every wait ends at the
// deadline; connections are served side by side, a few at once, and each is closed when it
// stays silent for the idle time-out, so a client that connects and says nothing holds
// nobody else off. Exit status: 0 once the wanted number of messages is saved; 1 when the time-out
// passes first, the port cannot be opened or a message cannot be saved (a line on standard
// error says which); 2 on a usage error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"

struct SinkOptions {
    std::uint16_t port = 0;  // 0: any free port
    std::string outDir;
    long count = 1;                     // messages to save before exiting
    std::uint32_t timeoutSeconds = 60;  // for the whole run
    std::string portFile;               // when set, receives the port once it is listening
    std::size_t maxLine = 4096;         // command and message lines, line end included
    std::uint64_t maxMessage = 64ull * 1024 * 1024;
    std::uint32_t pollMs = 500;      // longest single wait, so the deadline is seen in time
    std::uint32_t idleSeconds = 30;  // a connection silent at least this long is closed
    std::size_t maxConnections = 8;  // served at once; more are told to come back later
};

// Listens and serves connections, up to options.maxConnections at once, until options.count
// messages are saved or the clock passes the deadline. listening, when set, is told the port once
// it is open.
int RunSink(const SinkOptions& options, const platform::Clock& clock,
            const std::function<void(std::uint16_t)>& listening = nullptr);

// `tallyctl sink --out DIR [--port N] [--port-file F] [--count K] [--timeout SECONDS]`;
// args are the words after "sink".
int RunSinkCommand(const std::vector<std::string>& args);
