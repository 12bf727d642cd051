// SMTP dialogues as data: every file in transcripts/ is one test case, run by this driver
// against the scripted loopback server. A transcript says what the server sends, what the
// client must send (byte for byte) and, for DATA, which golden file under golden/ holds the
// expected message. The format is in transcripts/README.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/base64.h"
#include "mailer/mime/smtp_message.h"
#include "mailer/report_mail_text.h"
#include "mailer/smtp/smtp_connection.h"
#include "mailer/smtp/smtp_exception.h"
#include "mailer/smtp/smtp_settings.h"
#include "platform/clock.h"
#include "platform/ntlm.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScriptedSmtpServer;

// The transcripts and golden files lie beside this file.
std::string TestsDir() {
    return (fs::path(TALLY_TEST_SOURCE_DIR) / "mailer").string();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// \r \n \t \\ and \xHH; a \c at the very end means "no line end after this".
std::string Unescape(const std::string& text, bool* noLineEnd = nullptr) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char e = text[++i];
        if (e == 'r') {
            out += '\r';
        } else if (e == 'n') {
            out += '\n';
        } else if (e == 't') {
            out += '\t';
        } else if (e == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (e == 'c' && i + 1 == text.size() && noLineEnd != nullptr) {
            *noLineEnd = true;
        } else {
            out += e;
        }
    }
    return out;
}

struct Attachment {
    std::string name;
    std::string bytes;
    bool missing = false;
};

struct Transcript {
    // The client's side.
    AuthMethod method = AuthNone;
    std::string user, password, from = "from@test", to = "a@test", subject = "Hi";
    std::string text = ".x\r\nline";
    int reportDay = 0, reportMonth = 0, reportYear = 0;  // set: the report mail's words
    std::vector<std::string> rawRecipients;  // added as they are, past the parser's checks
    std::vector<Attachment> attachments;
    std::string bind;
    std::uint32_t replyTimeout = 3000;
    std::uint32_t sessionLimit = CQuillSMTPConnection::kSessionLimitMs;
    bool send = true;
    bool quitByDestructor = false;
    bool skipWithSystemNtlm = false;

    // What must come of it.
    std::string failureCode = "0";  // of Connect or SendMessage, the first to fail
    std::string failureText;
    bool failureTextIsPrefix = false;
    long failureTextSize = -1;
    std::string quitCode = "0";
    std::string quitText;
    std::map<int, std::string> replies;  // reply number (from 1) -> lastResponse after it
    std::map<int, long> replySizes;
    long maxMs = -1;

    // The lines the client must send (the server's script is built while reading).
    std::vector<std::string> clientLines;
    std::vector<std::string> goldens;  // one per DATA, in order
};

void Setting(Transcript& t, const std::string& key, const std::string& value) {
    if (key == "auth") {
        t.method = AuthMethodFromSetting(value);
    } else if (key == "user") {
        t.user = Unescape(value);
    } else if (key == "password") {
        t.password = Unescape(value);
    } else if (key == "from") {
        t.from = Unescape(value);
    } else if (key == "to") {
        t.to = Unescape(value);
    } else if (key == "to-raw") {
        t.rawRecipients.push_back(Unescape(value));
    } else if (key == "subject") {
        t.subject = Unescape(value);
    } else if (key == "text") {
        t.text = Unescape(value);
    } else if (key == "report-mail") {
        std::istringstream date(value);
        date >> t.reportDay >> t.reportMonth >> t.reportYear;
    } else if (key == "attach" || key == "attach-missing") {
        Attachment a;
        const std::size_t space = value.find(' ');
        a.name = value.substr(0, space);
        a.missing = key == "attach-missing";
        const std::string content = space == std::string::npos ? "" : value.substr(space + 1);
        if (!content.empty() && content[0] == '*') {
            // "*N": N bytes counting up in steps of 7, every byte value represented.
            for (long i = 0, n = std::stol(content.substr(1)); i < n; ++i) {
                a.bytes += static_cast<char>(i * 7);
            }
        } else {
            a.bytes = Unescape(content);
        }
        t.attachments.push_back(a);
    } else if (key == "bind") {
        t.bind = value;
    } else if (key == "reply-timeout") {
        t.replyTimeout = static_cast<std::uint32_t>(std::stoul(value));
    } else if (key == "session-limit") {
        t.sessionLimit = static_cast<std::uint32_t>(std::stoul(value));
    } else if (key == "run") {
        t.send = value != "connect";
    } else if (key == "quit") {
        t.quitByDestructor = value == "destructor";
    } else if (key == "skip-with-system-ntlm") {
        t.skipWithSystemNtlm = true;
    } else if (key == "expect-failure" || key == "expect-failure-prefix" ||
               key == "expect-quit-failure") {
        const std::size_t space = value.find(' ');
        const std::string code = value.substr(0, space);
        const std::string text =
            space == std::string::npos ? "" : Unescape(value.substr(space + 1));
        if (key != "expect-quit-failure") {
            t.failureCode = code;
            t.failureText = text;
            t.failureTextIsPrefix = key == "expect-failure-prefix";
        } else {
            t.quitCode = code;
            t.quitText = text;
        }
    } else if (key == "expect-failure-text-size") {
        t.failureTextSize = std::stol(value);
    } else if (key == "reply" || key == "reply-size") {
        const std::size_t space = value.find(' ');
        const int number = std::stoi(value.substr(0, space));
        const std::string rest = space == std::string::npos ? "" : value.substr(space + 1);
        if (key == "reply") {
            t.replies[number] = Unescape(rest);
        } else {
            t.replySizes[number] = std::stol(rest);
        }
    } else if (key == "max-ms") {
        t.maxMs = std::stol(value);
    } else {
        ADD_FAILURE() << "unknown setting '" << key << "'";
    }
}

// Reads a transcript, building the server's script as it goes.
void Parse(const std::string& path, Transcript& t, ScriptedSmtpServer& server) {
    std::istringstream lines(ReadFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line[0] == '>') {
            const std::string rest = line.substr(std::min<std::size_t>(2, line.size()));
            const std::size_t space = rest.find(' ');
            Setting(t, rest.substr(0, space),
                    space == std::string::npos ? "" : rest.substr(space + 1));
            continue;
        }
        const std::size_t colon = line.find(':');
        ASSERT_NE(colon, std::string::npos) << line;
        const std::string tag = line.substr(0, colon);
        const std::string value = line.substr(std::min(colon + 2, line.size()));
        bool noLineEnd = false;
        if (tag == "S" || tag.rfind("S*", 0) == 0) {
            std::string bytes = Unescape(value, &noLineEnd) + (noLineEnd ? "" : "\r\n");
            const int times = tag == "S" ? 1 : std::stoi(tag.substr(2));
            std::string all;
            for (int i = 0; i < times; ++i) {
                all += bytes;
            }
            server.Say(all);
        } else if (tag == "T") {
            const std::size_t space = value.find(' ');
            const int gap = std::stoi(value.substr(0, space));
            std::string bytes = Unescape(value.substr(space + 1), &noLineEnd);
            server.Trickle(bytes + (noLineEnd ? "" : "\r\n"), gap);
        } else if (tag == "C") {
            server.Hear();
            t.clientLines.push_back(Unescape(value));
        } else if (tag == "D") {
            server.HearData();
            t.clientLines.push_back("<data " + value + ">");
            t.goldens.push_back(value);
        } else if (tag == "A") {
            server.HearUntilClose();
            t.clientLines.push_back("<aborted>");
        } else if (tag == "W") {
            server.Wait(std::stoi(value));
        } else if (tag == "X") {
            server.Hangup();
        } else {
            ADD_FAILURE() << "unknown step '" << line << "'";
        }
    }
}

// Keeps every reply's lastResponse.
class RecordingConnection : public CQuillSMTPConnection {
  public:
    RecordingConnection() : CQuillSMTPConnection("client.test") {}
    bool ReadReply() override {
        const bool whole = CQuillSMTPConnection::ReadReply();
        replies.push_back(LastResponse());
        return whole;
    }
    std::vector<std::string> replies;
};

struct Outcome {
    std::uint32_t code = 0;
    std::string text;
};

template <typename Fn>
Outcome OutcomeOf(Fn fn) {
    try {
        fn();
    } catch (const CSMTPException& e) {
        return {e.Code(), e.Response()};
    }
    return {};
}

std::string Hex(std::uint32_t code) {
    std::ostringstream out;
    out << "0x" << std::uppercase << std::hex << code;
    return code == 0 ? "0" : out.str();
}

// The message bytes with what changes from run to run replaced by names, as the golden
// files hold them.
std::string Masked(std::string data, const CSMTPMessage& message) {
    const std::string& boundary = message.Root().boundary;
    for (std::size_t at; (at = data.find(boundary)) != std::string::npos;) {
        data.replace(at, boundary.size(), "{{boundary}}");
    }
    data = std::regex_replace(data, std::regex("\r\nDate: [^\r]*\r\n"), "\r\nDate: {{date}}\r\n");
    return std::regex_replace(data, std::regex("\r\nMessage-ID: <[^>\r]*>\r\n"),
                              "\r\nMessage-ID: {{message-id}}\r\n");
}

// Every attachment found in the message data decodes back to its file's bytes.
void CheckAttachments(const std::string& data, const Transcript& t) {
    for (const Attachment& a : t.attachments) {
        const std::size_t at = data.find("filename=\"" + a.name + "\"\r\n\r\n");
        if (a.missing || at == std::string::npos) {
            continue;
        }
        const std::size_t start = data.find("\r\n\r\n", at) + 4;
        const std::size_t end = data.find("\r\n--", start);
        ASSERT_NE(end, std::string::npos);
        std::string decoded;
        Base64Decode(data.substr(start, end - start), Base64Decoding::Lenient, &decoded);
        EXPECT_EQ(decoded, a.bytes) << a.name;
    }
}

class TranscriptTest : public ::testing::TestWithParam<std::string> {};

TEST_P(TranscriptTest, ClientSendsWhatTheTranscriptSays) {
    const std::string path = TestsDir() + "/transcripts/" + GetParam() + ".txt";
    ScriptedSmtpServer server;
    Transcript t;
    ASSERT_NO_FATAL_FAILURE(Parse(path, t, server));
    if (t.skipWithSystemNtlm && platform::HasSystemNtlm()) {
        GTEST_SKIP() << "the system's NTLM package needs a logged-on account";
    }

    testing_support::ScratchDir dir;
    const platform::FixedClock clock(1765177509);
    CSMTPMessage message;
    message.SetClock(&clock);
    message.from = CSMTPAddress(t.from);
    message.AddRecipients(t.to);
    for (const std::string& raw : t.rawRecipients) {
        message.AddRecipient(CSMTPAddress(raw));
    }
    message.subject = t.subject;
    message.AddTextBody(t.text);
    if (t.reportYear != 0) {
        std::vector<std::string> names;
        for (const Attachment& a : t.attachments) {
            names.push_back(a.name);
        }
        const ReportMailText words =
            ComposeReportMail(names, t.reportDay, t.reportMonth, t.reportYear);
        message.subject = words.subject;
        message.AddTextBody(words.body);
    }
    for (const Attachment& a : t.attachments) {
        if (!a.missing) {
            testing_support::WriteAll(dir / a.name, a.bytes);
        }
        message.AddAttachments(dir / a.name);
    }

    server.Start();
    Outcome failure, quit;
    std::vector<std::string> replies;
    const auto start = std::chrono::steady_clock::now();
    {
        RecordingConnection c;
        c.SetReplyTimeout(t.replyTimeout);
        c.SetSessionLimit(t.sessionLimit);
        failure = OutcomeOf([&] {
            c.Connect("127.0.0.1", t.method, t.user, t.password, server.Port(), t.bind);
            if (t.send) {
                c.SendMessage(message);
            }
        });
        if (!t.quitByDestructor) {
            quit = OutcomeOf([&] { c.Disconnect(); });
        }
        replies = c.replies;
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    std::vector<std::string> heard = server.Finish();

    EXPECT_EQ(Hex(failure.code), t.failureCode);
    if (t.failureTextSize >= 0) {
        EXPECT_EQ(static_cast<long>(failure.text.size()), t.failureTextSize);
    } else if (t.failureTextIsPrefix) {
        EXPECT_EQ(failure.text.substr(0, t.failureText.size()), t.failureText);
    } else {
        EXPECT_EQ(failure.text, t.failureText);
    }
    EXPECT_EQ(Hex(quit.code), t.quitCode);
    EXPECT_EQ(quit.text, t.quitText);
    for (const auto& [number, text] : t.replies) {
        ASSERT_GE(replies.size(), static_cast<std::size_t>(number));
        EXPECT_EQ(replies[number - 1], text) << "reply " << number;
    }
    for (const auto& [number, size] : t.replySizes) {
        ASSERT_GE(replies.size(), static_cast<std::size_t>(number));
        EXPECT_EQ(static_cast<long>(replies[number - 1].size()), size) << "reply " << number;
    }
    if (t.maxMs >= 0) {
        EXPECT_LT(took, t.maxMs);
    }

    // Message data shows as its golden file's name in the list of lines.
    std::size_t data = 0;
    for (std::size_t i = 0; i < heard.size() && i < t.clientLines.size(); ++i) {
        if (t.clientLines[i].rfind("<data ", 0) == 0 && data < t.goldens.size()) {
            const std::string goldenPath = TestsDir() + "/golden/" + t.goldens[data++];
            const std::string masked = Masked(heard[i], message);
            if (std::getenv("TALLY_WRITE_GOLDEN") != nullptr) {
                std::ofstream(goldenPath, std::ios::binary) << masked;  // to review, then commit
            }
            EXPECT_EQ(masked, ReadFile(goldenPath)) << t.clientLines[i];
            CheckAttachments(heard[i], t);
            heard[i] = t.clientLines[i];
        }
    }
    // An aborted message: whatever came, but never the end of data, and no QUIT inside it.
    for (std::size_t i = 0; i < heard.size() && i < t.clientLines.size(); ++i) {
        if (t.clientLines[i] == "<aborted>") {
            EXPECT_EQ(heard[i].find("\r\n.\r\n"), std::string::npos);
            EXPECT_EQ(heard[i].find("QUIT\r\n"), std::string::npos);
            heard[i] = t.clientLines[i];
        }
    }
    EXPECT_EQ(heard, t.clientLines);
}

std::vector<std::string> TranscriptNames() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(TestsDir() + "/transcripts")) {
        if (entry.path().extension() == ".txt" && entry.path().stem() != "README") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Smtp, TranscriptTest, ::testing::ValuesIn(TranscriptNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

}  // namespace
