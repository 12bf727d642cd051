// `tallyctl sink`: the loopback SMTP sink (see the header). The client is not trusted: lines
// longer than maxLine are refused, messages longer than maxMessage are not kept, out-of-order
// commands get 503 and a client that keeps erring is disconnected. Each connection has a
// thread of its own, at most maxConnections at once; one more is told to come back later.
#include "tools/sink_command.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/files.h"
#include "platform/nocase.h"
#include "platform/socket.h"

namespace {

constexpr std::size_t kReceiveChunk = 16384;
constexpr std::uint32_t kSendTimeoutMs = 10000;
constexpr int kMaxErrors = 10;
constexpr long kMaxRecipients = 1000;
constexpr long kMaxCount = 10000;
constexpr std::uint32_t kMaxTimeoutSeconds = 86400;
// Once the last wanted message is saved, the client still gets this long to say QUIT.
constexpr std::time_t kGraceSeconds = 5;

// A point in time that waits are sliced against; shared by the connections' threads.
class Deadline {
  public:
    Deadline(const platform::Clock& clock, std::uint32_t seconds)
        : clock_(clock), seconds_(seconds), end_(clock.Now() + static_cast<std::time_t>(seconds)) {}

    // The next wait: at most pollMs, 0 once the deadline has passed.
    std::uint32_t Slice(std::uint32_t pollMs) const {
        std::time_t left = end_.load() - clock_.Now();
        if (left <= 0) {
            return 0;
        }
        std::uint64_t leftMs = static_cast<std::uint64_t>(left) * 1000;
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(std::max(pollMs, 1u), leftMs));
    }
    void ShortenTo(std::time_t seconds) {
        const std::time_t end = clock_.Now() + seconds;
        std::time_t current = end_.load();
        while (end < current && !end_.compare_exchange_weak(current, end)) {
        }
    }
    // Starts the full time again (an idle time-out after activity).
    void Restart() { end_ = clock_.Now() + static_cast<std::time_t>(seconds_); }

  private:
    const platform::Clock& clock_;
    std::uint32_t seconds_;
    std::atomic<std::time_t> end_;
};

enum class Read { Line, TooLong, Closed, TimedOut, Idle };

// One accepted connection: bounded line reads and whole sends. Reads end at the run's
// deadline, after the idle time-out without a byte, or once the sink is closing (unless the
// connection has delivered a message and may still say QUIT).
class Peer {
  public:
    Peer(platform::SocketHandle socket, const Deadline& deadline, const SinkOptions& options,
         const platform::Clock& clock, const std::atomic<bool>& closing)
        : socket_(socket),
          deadline_(deadline),
          // The clock counts whole seconds: one more makes the wait at least the time-out.
          idle_(clock, options.idleSeconds + 1),
          options_(options),
          closing_(closing) {
        platform::SocketSetSendTimeout(socket_, kSendTimeoutMs);
    }
    void MayLinger() { linger_ = true; }
    ~Peer() { platform::SocketClose(socket_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // The next piece of input up to and including its '\n' (a line, or part of one that
    // holds bare LFs). On TooLong the piece was dropped and *line holds only the line end
    // that closed it ("\r\n" or "\n").
    Read NextLine(std::string* line) {
        for (;;) {
            std::size_t nl = pending_.find('\n', scan_);
            if (nl != std::string::npos) {
                std::size_t length = nl + 1 - head_;
                bool crlf = nl > head_ && pending_[nl - 1] == '\r';
                Read result = length > options_.maxLine ? Read::TooLong : Read::Line;
                if (result == Read::Line) {
                    line->assign(pending_, head_, length);
                } else {
                    *line = crlf ? "\r\n" : "\n";
                }
                head_ = scan_ = nl + 1;
                return result;
            }
            scan_ = pending_.size();
            if (pending_.size() - head_ > options_.maxLine) {
                return Discard(line);
            }
            if (Read r = Fill(); r != Read::Line) {
                return r;
            }
        }
    }

    bool Send(std::string_view reply) {
        std::string text(reply);
        text += "\r\n";
        std::size_t sent = 0;
        while (sent < text.size()) {
            long n = platform::SocketSend(socket_, text.data() + sent, text.size() - sent);
            if (n <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

  private:
    // Receives once more into pending_; Line stands for "got bytes".
    Read Fill() {
        for (;;) {
            std::uint32_t slice = deadline_.Slice(options_.pollMs);
            if (slice == 0 || (closing_ && !linger_)) {
                return Read::TimedOut;
            }
            slice = std::min(slice, idle_.Slice(options_.pollMs));
            if (slice == 0) {
                return Read::Idle;
            }
            int ready = platform::SocketWaitReadable(socket_, slice);
            if (ready < 0) {
                return Read::Closed;
            }
            if (ready > 0) {
                break;
            }
        }
        // What has been handed out is dropped only here, so each line costs no copy of the rest.
        pending_.erase(0, head_);
        scan_ -= head_;
        head_ = 0;
        std::size_t used = pending_.size();
        pending_.resize(used + kReceiveChunk);
        long n = platform::SocketReceive(socket_, pending_.data() + used, kReceiveChunk);
        pending_.resize(used + static_cast<std::size_t>(std::max(n, 0L)));
        if (n > 0) {
            idle_.Restart();
        }
        return n > 0 ? Read::Line : Read::Closed;
    }

    // Drops an over-long line through its '\n'.
    Read Discard(std::string* line) {
        char last = pending_.back();
        pending_.clear();
        head_ = scan_ = 0;
        for (;;) {
            if (Read r = Fill(); r != Read::Line) {
                return r;
            }
            std::size_t nl = pending_.find('\n');
            if (nl == std::string::npos) {
                last = pending_.back();
                pending_.clear();
                continue;
            }
            char before = nl > 0 ? pending_[nl - 1] : last;
            *line = before == '\r' ? "\r\n" : "\n";
            head_ = scan_ = nl + 1;
            return Read::TooLong;
        }
    }

    platform::SocketHandle socket_;
    const Deadline& deadline_;
    Deadline idle_;
    const SinkOptions& options_;
    const std::atomic<bool>& closing_;
    bool linger_ = false;
    std::string pending_;
    std::size_t head_ = 0;  // start of what has not been handed out
    std::size_t scan_ = 0;  // pending_ before this holds no '\n' after head_
};

enum class Data { Ok, TooLong, TooBig, Closed, TimedOut, Idle };

// Where a connection's dialogue stands.
struct Session {
    bool greeted = false;
    bool inMail = false;
    long recipients = 0;
};

// What a command leads to: a reply, the message (after DATA's checks passed), or the end.
enum class After { Reply, TakeMessage, Quit };
struct Answer {
    After after;
    std::string reply;
};

using Handler = Answer (*)(Session&, std::string_view verb, std::string_view argument,
                           const SinkOptions&);

Answer Hello(Session& session, std::string_view verb, std::string_view argument,
             const SinkOptions& options) {
    if (argument.empty()) {
        return {After::Reply, "501 5.5.4 Syntax: " + std::string(verb) + " hostname"};
    }
    session = Session{true, false, 0};
    if (verb == "HELO") {
        return {After::Reply, "250 127.0.0.1"};
    }
    return {After::Reply,
            "250-127.0.0.1\r\n250-SIZE " + std::to_string(options.maxMessage) + "\r\n250 8BITMIME"};
}

Answer Mail(Session& session, std::string_view, std::string_view argument, const SinkOptions&) {
    if (!session.greeted) {
        return {After::Reply, "503 5.5.1 Send HELO or EHLO first"};
    }
    if (session.inMail) {
        return {After::Reply, "503 5.5.1 Nested MAIL command"};
    }
    if (!platform::StartsWithNoCase(argument, "FROM:")) {
        return {After::Reply, "501 5.5.4 Syntax: MAIL FROM:<address>"};
    }
    session.inMail = true;
    return {After::Reply, "250 2.1.0 Ok"};
}

Answer Rcpt(Session& session, std::string_view, std::string_view argument, const SinkOptions&) {
    if (!session.inMail) {
        return {After::Reply, "503 5.5.1 Send MAIL first"};
    }
    if (!platform::StartsWithNoCase(argument, "TO:")) {
        return {After::Reply, "501 5.5.4 Syntax: RCPT TO:<address>"};
    }
    if (session.recipients >= kMaxRecipients) {
        return {After::Reply, "452 4.5.3 Too many recipients"};
    }
    ++session.recipients;
    return {After::Reply, "250 2.1.5 Ok"};
}

Answer DataCommand(Session& session, std::string_view, std::string_view, const SinkOptions&) {
    if (!session.inMail || session.recipients == 0) {
        return {After::Reply, "503 5.5.1 Send MAIL and RCPT first"};
    }
    session.inMail = false;
    session.recipients = 0;
    return {After::TakeMessage, {}};
}

Answer Rset(Session& session, std::string_view, std::string_view, const SinkOptions&) {
    session.inMail = false;
    session.recipients = 0;
    return {After::Reply, "250 2.0.0 Ok"};
}

Answer Noop(Session&, std::string_view, std::string_view, const SinkOptions&) {
    return {After::Reply, "250 2.0.0 Ok"};
}

Answer Quit(Session&, std::string_view, std::string_view, const SinkOptions&) {
    return {After::Quit, "221 2.0.0 Bye"};
}

// The verbs the sink knows, matched in any case.
constexpr struct {
    const char* verb;
    Handler handle;
} kVerbs[] = {
    {"HELO", Hello},       {"EHLO", Hello}, {"MAIL", Mail}, {"RCPT", Rcpt},
    {"DATA", DataCommand}, {"RSET", Rset},  {"NOOP", Noop}, {"QUIT", Quit},
};

// One command line (its line end included) to its answer.
Answer Dispatch(Session& session, std::string line, const SinkOptions& options) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    std::string_view text = line;
    std::string_view argument;
    if (std::size_t space = text.find(' '); space != std::string_view::npos) {
        argument = text.substr(space + 1);
        text = text.substr(0, space);
    }
    for (const auto& entry : kVerbs) {
        if (platform::EqualNoCase(text, entry.verb)) {
            return entry.handle(session, entry.verb, argument, options);
        }
    }
    return {After::Reply, "500 5.5.2 Command not recognised"};
}

class Sink {
  public:
    Sink(const SinkOptions& options, const platform::Clock& clock)
        : options_(options), clock_(clock), deadline_(clock, options.timeoutSeconds) {}

    int Run(const std::function<void(std::uint16_t)>& listening);

  private:
    // One connection's thread; done is set as its last act, so it can be joined at once.
    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    bool Done() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return saved_ >= options_.count || saveFailed_;
    }
    void Accept(platform::SocketHandle client);
    void JoinFinished(bool all);
    void Serve(platform::SocketHandle client);
    Data ReadMessage(Peer& peer, std::string* message);
    // Replies to DATA after the message; false when the connection is over.
    bool TakeMessage(Peer& peer);
    bool Save(const std::string& message, std::string* name);

    const SinkOptions& options_;
    const platform::Clock& clock_;
    Deadline deadline_;
    std::atomic<bool> closing_{false};
    std::list<Connection> connections_;
    mutable std::mutex mutex_;  // guards what follows, and the numbering and saving
    long saved_ = 0;
    long nextNumber_ = 1;
    bool saveFailed_ = false;
};

void Sink::Accept(platform::SocketHandle client) {
    JoinFinished(false);
    if (connections_.size() >= std::max<std::size_t>(options_.maxConnections, 1)) {
        Peer busy(client, deadline_, options_, clock_, closing_);
        busy.Send("421 4.3.2 Too many connections, try again later");
        return;
    }
    Connection& connection = connections_.emplace_back();
    connection.thread = std::thread([this, client, &connection] {
        Serve(client);
        connection.done = true;
    });
}

void Sink::JoinFinished(bool all) {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (all || it->done) {
            it->thread.join();
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

int Sink::Run(const std::function<void(std::uint16_t)>& listening) {
    if (!platform::CreateDirectories(options_.outDir)) {
        std::fprintf(stderr, "tallyctl sink: cannot create the directory '%s'\n",
                     options_.outDir.c_str());
        return 1;
    }
    if (!platform::SocketStartup()) {
        std::fprintf(stderr, "tallyctl sink: the socket library cannot start\n");
        return 1;
    }
    platform::SocketHandle listener = platform::SocketListenLoopback(options_.port);
    if (listener == platform::kInvalidSocket) {
        std::fprintf(stderr, "tallyctl sink: cannot listen on 127.0.0.1:%u (error %d)\n",
                     static_cast<unsigned>(options_.port), platform::SocketLastError());
        platform::SocketCleanup();
        return 1;
    }
    std::uint16_t port = platform::SocketLocalPort(listener);
    // The port file is written whole before anything is printed, so a script waiting for
    // either never reads a partial port.
    if (!options_.portFile.empty() &&
        !platform::ReplaceFileBytes(options_.portFile, std::to_string(port))) {
        std::fprintf(stderr, "tallyctl sink: cannot write the port file '%s'\n",
                     options_.portFile.c_str());
        platform::SocketClose(listener);
        platform::SocketCleanup();
        return 1;
    }
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(port));
    std::fflush(stdout);
    if (listening) {
        listening(port);
    }

    bool listenFailed = false;
    while (!Done()) {
        std::uint32_t slice = deadline_.Slice(options_.pollMs);
        if (slice == 0) {
            break;
        }
        int ready = platform::SocketWaitReadable(listener, slice);
        if (ready < 0) {
            listenFailed = true;
            break;
        }
        if (ready == 0) {
            continue;
        }
        platform::SocketHandle client = platform::SocketAccept(listener, 0);
        if (client != platform::kInvalidSocket) {
            Accept(client);
        }
    }
    int error = platform::SocketLastError();
    platform::SocketClose(listener);
    // Connections still open end at their next wait; one that delivered the last message
    // keeps the grace time to say QUIT.
    closing_ = true;
    JoinFinished(true);
    platform::SocketCleanup();

    if (saveFailed_) {
        return 1;
    }
    if (saved_ >= options_.count) {
        return 0;
    }
    if (listenFailed) {
        std::fprintf(stderr, "tallyctl sink: waiting for connections failed (error %d)\n", error);
    } else {
        std::fprintf(stderr, "tallyctl sink: timed out after %u s with %ld of %ld message(s)\n",
                     static_cast<unsigned>(options_.timeoutSeconds), saved_, options_.count);
    }
    return 1;
}

void Sink::Serve(platform::SocketHandle client) {
    Peer peer(client, deadline_, options_, clock_, closing_);
    if (!peer.Send("220 127.0.0.1 tallyctl sink ESMTP")) {
        return;
    }
    Session session;
    int errors = 0;
    for (;;) {
        std::string line;
        Read read = peer.NextLine(&line);
        if (read == Read::Closed) {
            return;
        }
        if (read == Read::TimedOut) {
            peer.Send("421 4.4.2 Time is up, closing");
            return;
        }
        if (read == Read::Idle) {
            peer.Send("421 4.4.2 Idle for too long, closing");
            return;
        }
        const Answer answer = read == Read::TooLong
                                  ? Answer{After::Reply, "500 5.5.2 Line too long"}
                                  : Dispatch(session, std::move(line), options_);
        if (answer.after == After::TakeMessage) {
            if (!TakeMessage(peer)) {
                return;
            }
            errors = 0;
            continue;
        }
        if (answer.after == After::Quit) {
            peer.Send(answer.reply);
            return;
        }
        // 4xx and 5xx replies to commands count as errors; a client that keeps erring is
        // not given the rest of the deadline.
        bool error = answer.reply[0] == '4' || answer.reply[0] == '5';
        errors = error ? errors + 1 : 0;
        if (!peer.Send(answer.reply)) {
            return;
        }
        if (errors >= kMaxErrors) {
            peer.Send("421 4.7.0 Too many errors, closing");
            return;
        }
    }
}

bool Sink::TakeMessage(Peer& peer) {
    if (!peer.Send("354 End data with <CR><LF>.<CR><LF>")) {
        return false;
    }
    std::string message;
    std::string reply;
    switch (ReadMessage(peer, &message)) {
        case Data::Closed:
            return false;
        case Data::TimedOut:
            peer.Send("421 4.4.2 Time is up, closing");
            return false;
        case Data::Idle:
            peer.Send("421 4.4.2 Idle for too long, closing");
            return false;
        case Data::TooLong:
            reply = "500 5.5.2 Line too long, message not saved";
            break;
        case Data::TooBig:
            reply = "552 5.3.4 Message larger than " + std::to_string(options_.maxMessage) +
                    " bytes, not saved";
            break;
        case Data::Ok: {
            std::string name;
            if (Save(message, &name)) {
                peer.MayLinger();
                reply = "250 2.0.0 Ok, saved as " + name;
            } else {
                reply = "451 4.3.0 Cannot save the message";
            }
            break;
        }
    }
    if (Done()) {
        deadline_.ShortenTo(kGraceSeconds);
    }
    return peer.Send(reply);
}

Data Sink::ReadMessage(Peer& peer, std::string* message) {
    bool atLineStart = true, tooLong = false, tooBig = false;
    for (;;) {
        std::string piece;
        Read read = peer.NextLine(&piece);
        if (read == Read::Closed) {
            return Data::Closed;
        }
        if (read == Read::TimedOut) {
            return Data::TimedOut;
        }
        if (read == Read::Idle) {
            return Data::Idle;
        }
        if (read == Read::TooLong) {
            tooLong = true;
            std::string().swap(*message);
            atLineStart = piece == "\r\n";
            continue;
        }
        // Only a line that follows CR LF can end the data or carry a stuffed dot; a bare LF
        // does not start a line.
        bool endsLine = piece.size() >= 2 && piece[piece.size() - 2] == '\r';
        if (atLineStart) {
            if (piece == ".\r\n") {
                break;
            }
            if (piece[0] == '.') {
                piece.erase(0, 1);
            }
        }
        atLineStart = endsLine;
        if (tooLong || tooBig) {
            continue;
        }
        if (message->size() + piece.size() > options_.maxMessage) {
            tooBig = true;
            std::string().swap(*message);
            continue;
        }
        *message += piece;
    }
    return tooLong ? Data::TooLong : tooBig ? Data::TooBig : Data::Ok;
}

bool Sink::Save(const std::string& message, std::string* name) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string dir = options_.outDir;
    while (dir.size() > 1 && dir.back() == platform::kPathSeparator) {
        dir.pop_back();
    }
    // Numbers already taken (by an earlier run) are skipped: nothing is overwritten.
    std::string path;
    for (;; ++nextNumber_) {
        *name = "mail-" + std::to_string(nextNumber_) + ".eml";
        path = platform::AppendPath(dir, "\\" + *name);
        if (!platform::FileExists(path)) {
            break;
        }
    }
    if (!platform::ReplaceFileBytes(path, message)) {
        std::fprintf(stderr, "tallyctl sink: cannot save '%s'\n", path.c_str());
        saveFailed_ = true;
        return false;
    }
    ++nextNumber_;
    ++saved_;
    std::printf("saved %s\n", path.c_str());
    std::fflush(stdout);
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tallyctl sink --out DIR [--port N] [--port-file F] [--count K] "
                 "[--timeout SECONDS]\n");
    return 2;
}

bool ParseNumber(const std::string& text, unsigned long min, unsigned long max,
                 unsigned long* out) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value < min || value > max) {
        return false;
    }
    *out = value;
    return true;
}

}  // namespace

int RunSink(const SinkOptions& options, const platform::Clock& clock,
            const std::function<void(std::uint16_t)>& listening) {
    Sink sink(options, clock);
    return sink.Run(listening);
}

int RunSinkCommand(const std::vector<std::string>& args) {
    SinkOptions options;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        const std::string& flag = args[i];
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "tallyctl sink: missing value after '%s'\n", flag.c_str());
            return Usage();
        }
        const std::string& value = args[i + 1];
        unsigned long number = 0;
        if (flag == "--out") {
            options.outDir = value;
        } else if (flag == "--port-file") {
            options.portFile = value;
        } else if (flag == "--port" && ParseNumber(value, 0, 65535, &number)) {
            options.port = static_cast<std::uint16_t>(number);
        } else if (flag == "--count" && ParseNumber(value, 1, kMaxCount, &number)) {
            options.count = static_cast<long>(number);
        } else if (flag == "--timeout" && ParseNumber(value, 1, kMaxTimeoutSeconds, &number)) {
            options.timeoutSeconds = static_cast<std::uint32_t>(number);
        } else {
            std::fprintf(stderr, "tallyctl sink: cannot use '%s %s'\n", flag.c_str(),
                         value.c_str());
            return Usage();
        }
    }
    if (options.outDir.empty()) {
        std::fprintf(stderr, "tallyctl sink: --out DIR is required\n");
        return Usage();
    }
    platform::SystemClock clock;
    return RunSink(options, clock);
}
