// Tests of the MIME message: addresses, body parts, the header and the exact wire bytes of
// plain and multipart mails, attachment encoding and the attachment size limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "common/base64.h"
#include "mailer/mime/smtp_message.h"
#include "platform/clock.h"
#include "platform/uuid.h"
#include "tests/support/test_env.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteAll;

const char kSubject[] = "Email Reports from Brisko Web Proxy";

// The Date line's value replaced by a marker, so exact bytes can be compared.
std::string MaskDate(const std::string& header) {
    return std::regex_replace(header, std::regex("Date: [^\r]*\r\n"), "Date: <date>\r\n");
}

TEST(SMTPAddress, ParsesNameAndMailbox) {
    const struct {
        const char *in, *name, *address;
    } cases[] = {
        {"  Jane Doe <jd> ", "Jane Doe", "jd"},
        {"<>", "", "<>"},
        {"xy", "", "xy"},
        {" a@b.c ", "", "a@b.c"},
        {"<a@b>", "", "a@b"},
        {"x> <y", "", "x> <y"},
        {"Jo < j@x >", "Jo", " j@x "},  // the mailbox is taken as written between the brackets
        // Brackets inside a quoted name are part of the name, quoted pairs included.
        {"\"x\\\" <e@e>\" <a@x.test>", "\"x\\\" <e@e>\"", "a@x.test"},
        {"\"a>b\" <c@d>", "\"a>b\"", "c@d"},
        {"Jo \"the \\\"boss\\\"\" <j@x>", "Jo \"the \\\"boss\\\"\"", "j@x"},
        {"<\"a>b\"@x>", "", "\"a>b\"@x"},
        {"\"<e@e>\"", "", "\"<e@e>\""},
        // A quote that is never closed quotes nothing.
        {"\"Jo <j@x>", "\"Jo", "j@x"},
    };
    for (const auto& c : cases) {
        CSMTPAddress a;
        a.Parse(c.in);
        EXPECT_EQ(a.name, c.name) << c.in;
        EXPECT_EQ(a.address, c.address) << c.in;
    }
}

TEST(SMTPAddress, DisplayForm) {
    EXPECT_EQ(CSMTPAddress("a@b").DisplayForm(true, "iso-8859-1"), "a@b");
    EXPECT_EQ(CSMTPAddress("a@b", "Jane").DisplayForm(true, "iso-8859-1"), "Jane <a@b>");
    EXPECT_EQ(CSMTPAddress("a@b", "Ren\xE9").DisplayForm(true, "iso-8859-1"),
              "=?iso-8859-1?q?Ren=E9?= <a@b>");
    EXPECT_EQ(CSMTPAddress("a@b", "Ren\xE9").DisplayForm(false, "iso-8859-1"), "Ren\xE9 <a@b>");
}

TEST(SMTPBodyPart, SetTextMakesEveryLineEndCrLf) {
    const struct {
        std::string in, stored;
    } cases[] = {
        {"a\rb\nc", "a\r\nb\r\nc"},
        {"a\r\nb", "a\r\nb"},
        {"\n\r", "\r\n\r\n"},
        {"\r\r\n\n", "\r\n\r\n\r\n"},
        {"", ""},
    };
    for (const auto& c : cases) {
        CSMTPBodyPart part;
        part.SetContentType("text/html");
        part.SetText(c.in);
        EXPECT_EQ(part.GetText(), c.stored);
        EXPECT_EQ(part.GetContentType(), "text/plain");
    }
}

TEST(SMTPBodyPart, SetFilenameTakesNameAndExtension) {
    const struct {
        const char *path, *title, *type;
    } cases[] = {
        {"C:\\Reports\\Logs\\week.xml", "week.xml", "application/xml"},
        {"/var/lib/reports/12-05-2026filter.html", "12-05-2026filter.html", "text/html"},
        {"C:month.xml", "month.xml", "application/xml"},
        {"plain.bin", "plain.bin", "application/octet-stream"},
    };
    for (const auto& c : cases) {
        CSMTPBodyPart part;
        EXPECT_TRUE(part.SetFilename(c.path));
        EXPECT_EQ(part.GetTitle(), c.title);
        EXPECT_EQ(part.GetFilename(), c.path);
        EXPECT_EQ(part.GetContentType(), c.type);
    }
}

// The name in a part header comes from the report path, which the registry holds: whatever
// it carries, the header keeps its lines and its quotes. An ordinary name is written as it
// always was; any other is encoded (RFC 2047 for name=, RFC 2231 for filename*=).
TEST(SMTPBodyPart, AttachmentNamesCannotBreakThePartHeader) {
    const struct {
        const char *path, *name, *filename;
    } cases[] = {
        {"C:\\Reports\\week.xml", "name=\"week.xml\"", "filename=\"week.xml\""},
        {"C:\\r\\a b (1)~.xml", "name=\"a b (1)~.xml\"", "filename=\"a b (1)~.xml\""},
        {"/r/a\r\n.\r\nRSET\r\nNOOP x\r\nb.xml",
         "name=\"=?iso-8859-1?q?a=0D=0A.=0D=0ARSET=0D=0ANOOP_x=0D=0Ab.xml?=\"",
         "filename*=iso-8859-1''a%0D%0A.%0D%0ARSET%0D%0ANOOP%20x%0D%0Ab.xml"},
        {"/r/say \"hi\".xml", "name=\"=?iso-8859-1?q?say_=22hi=22.xml?=\"",
         "filename*=iso-8859-1''say%20%22hi%22.xml"},
        {"/r/M\xE4rz_1.xml", "name=\"=?iso-8859-1?q?M=E4rz=5F1.xml?=\"",
         "filename*=iso-8859-1''M%E4rz_1.xml"},
        {"/r/tab\there", "name=\"=?iso-8859-1?q?tab=09here?=\"",
         "filename*=iso-8859-1''tab%09here"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        CSMTPBodyPart part;
        part.SetFilename(c.path);
        std::string header;
        ASSERT_TRUE(part.RenderHeader(&header));
        std::string unfolded = header;
        for (std::size_t fold; (fold = unfolded.find("\r\n ")) != std::string::npos;) {
            unfolded.erase(fold, 2);
        }
        EXPECT_NE(unfolded.find("; " + std::string(c.name) + "\r\n"), std::string::npos) << header;
        EXPECT_NE(
            unfolded.find("Content-Disposition: attachment; " + std::string(c.filename) + "\r\n"),
            std::string::npos)
            << header;
        // Line ends only as CR LF, and every line a delimiter, a header field of the part or
        // the folded rest of one.
        std::size_t start = 0;
        for (std::size_t end; (end = header.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            const std::string line = header.substr(start, end - start);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
            EXPECT_TRUE(line.empty() || line.rfind("--", 0) == 0 ||
                        line.rfind("Content-", 0) == 0 || line.rfind(" ", 0) == 0)
                << line;
        }
        EXPECT_EQ(start, header.size());
    }
    // A long name becomes several words, none longer than RFC 2047 allows.
    CSMTPBodyPart part;
    part.SetFilename("/r/" + std::string(100, '\xE9'));
    std::string header;
    ASSERT_TRUE(part.RenderHeader(&header));
    const std::size_t from = header.find("name=\"") + 6;
    std::string words = header.substr(from, header.find('"', from) - from);
    for (std::size_t fold; (fold = words.find("\r\n ")) != std::string::npos;) {
        words.erase(fold, 2);  // folded between its words
    }
    std::size_t count = 0;
    for (std::size_t at = 0; at < words.size(); ++count) {
        const std::size_t space = std::min(words.find(' ', at), words.size());
        EXPECT_LE(space - at, 75u) << words;
        EXPECT_EQ(words.compare(at, 15, "=?iso-8859-1?q?"), 0) << words;
        at = space + 1;
    }
    EXPECT_EQ(count, 6u) << words;
}

TEST(SMTPBodyPart, BoundariesAreFreshUuidsAndCopiesAreDeep) {
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        CSMTPBodyPart part;
        ASSERT_TRUE(std::regex_match(part.boundary, uuid)) << part.boundary;
        seen.insert(part.boundary);
    }
    EXPECT_EQ(seen.size(), 50u);
    EXPECT_EQ(platform::NewUuidText().size(), 36u);

    CSMTPBodyPart outer;
    CSMTPBodyPart inner;
    inner.SetText("x");
    inner.SetBase64(true);
    inner.maxAttachmentSize = 10;
    inner.AddChild(CSMTPBodyPart());
    outer.AddChild(inner);
    CSMTPBodyPart copy(outer);
    EXPECT_EQ(copy.boundary, outer.boundary);
    ASSERT_EQ(copy.ChildCount(), 1);
    CSMTPBodyPart* c = copy.ChildAt(0);
    EXPECT_NE(c, outer.ChildAt(0));
    EXPECT_EQ(c->GetParent(), &copy);
    EXPECT_EQ(c->ChildAt(0)->GetParent(), c);
    EXPECT_EQ(c->boundary, inner.boundary);
    EXPECT_TRUE(c->GetBase64());
    EXPECT_EQ(c->maxAttachmentSize, 10u);
    EXPECT_EQ(c->GetText(), "x");
    outer = *outer.ChildAt(0);  // assigning from a descendant is safe
    EXPECT_EQ(outer.boundary, inner.boundary);
    EXPECT_EQ(outer.ChildAt(0)->GetParent(), &outer);
}

TEST(DotStuffer, DoublesLeadingDotsWhereverThePiecesAreCut) {
    const struct {
        std::string in, out;
    } cases[] = {
        {".x", "..x"},          {"a\r\n.b\r\n..", "a\r\n..b\r\n..."},
        {"a.b\r\n", "a.b\r\n"}, {"\r\n.\r\n", "\r\n..\r\n"},
        {"a\n.b", "a\n..b"},    {"", ""},
    };
    for (const auto& c : cases) {
        for (std::size_t cut = 0; cut <= c.in.size(); ++cut) {
            DotStuffer stuffer;
            std::string out;
            stuffer.Append(std::string_view(c.in).substr(0, cut), &out);
            stuffer.Append(std::string_view(c.in).substr(cut), &out);
            EXPECT_EQ(out, c.out) << c.in << " cut at " << cut;
        }
    }
}

TEST(MailDate, EnglishNamesAndZone) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_wday = 2;
    t.tm_hour = 7;
    t.tm_min = 5;
    t.tm_sec = 9;
    EXPECT_EQ(FormatMailDate(t), "Tue, 08 Dec 2026 07:05:09 ");
    const struct {
        int minutes;
        const char* zone;
    } cases[] = {{60, "+0100"}, {-300, "-0500"}, {330, "+0530"}, {0, "+0000"}, {-210, "-0330"}};
    for (const auto& c : cases) {
        EXPECT_EQ(FormatZoneOffset(c.minutes), c.zone);
    }
}

CSMTPMessage ReportMessage() {
    CSMTPMessage message;
    message.SetCharset("iso-8859-1");
    message.AddRecipients("admin@example.com");
    message.subject = kSubject;
    message.AddTextBody("The REPORT is attached.\r\n.hidden");
    message.from = CSMTPAddress("postvane@example.invalid");
    return message;
}

// The header's exact bytes are a golden file (transcripts/report_mail_plain_exactly.txt);
// here, the Date line.
TEST(SMTPMessage, DateLineIsOfTheClocksMoment) {
    CSMTPMessage message = ReportMessage();
    const platform::FixedClock clock(1765177509);
    message.SetClock(&clock);
    const std::string header = message.BuildHeader();
    std::tm local{};
    ASSERT_TRUE(platform::LocalTime(clock.Now(), &local));
    EXPECT_NE(header.find("\r\nDate: " + FormatMailDate(local)), std::string::npos) << header;
    EXPECT_TRUE(std::regex_search(header, std::regex("Date: [^\r]* [+-][0-9]{4}\r\n")));
    EXPECT_FALSE(message.IsMime());
    EXPECT_EQ(message.GetText(), "The REPORT is attached.\r\n.hidden");  // stored unstuffed
}

// The wire bytes are a golden file (transcripts/report_mail_exactly.txt); here, the tree.
TEST(SMTPMessage, OneAttachmentMakesTextPartAndAttachmentPart) {
    CSMTPMessage message = ReportMessage();
    EXPECT_EQ(message.AddAttachments("week.xml"), 1);
    CSMTPBodyPart& root = message.Root();
    ASSERT_EQ(root.ChildCount(), 2);
    const CSMTPBodyPart* text = root.ChildAt(0);
    EXPECT_EQ(text->GetContentType(), "text/plain");
    EXPECT_EQ(text->GetCharset(), "iso-8859-1");
    EXPECT_TRUE(text->GetQuotedPrintable());
    EXPECT_EQ(root.ChildAt(1)->GetTitle(), "week.xml");
}

TEST(SMTPMessage, MessageIdAfterTheDateUniqueAndOfTheSendersDomain) {
    const struct {
        const char *from, *domain;
    } cases[] = {
        {"reports@example.com", "@example.com>"},
        {"a@b@mail-1.example.org", "@mail-1.example.org>"},
        {"nobody", "@postvane.invalid>"},         // no domain to take
        {"x@[192.0.2.1]", "@postvane.invalid>"},  // not a plain domain name
        {"x@bad..name", "@postvane.invalid>"},
    };
    std::set<std::string> seen;
    for (const auto& c : cases) {
        CSMTPMessage message;
        message.from = CSMTPAddress(c.from);
        const std::string id = message.MessageId();
        EXPECT_TRUE(std::regex_match(id, std::regex("<[0-9a-f-]{36}@[^<>@ ]+>"))) << id;
        EXPECT_EQ(id.substr(id.size() - std::string(c.domain).size()), c.domain) << c.from;
        EXPECT_EQ(CSMTPMessage(message).MessageId(), id);  // a copy is the same message
        seen.insert(id.substr(0, 37));
        const std::string header = message.BuildHeader();
        EXPECT_NE(header.find("\r\nMessage-ID: " + id + "\r\n"), std::string::npos) << header;
        EXPECT_LT(header.find("\r\nDate: "), header.find("\r\nMessage-ID: "));
    }
    EXPECT_EQ(seen.size(), std::size(cases));
}

TEST(SMTPMessage, RecipientsInTheHeader) {
    const struct {
        const char *to, *cc, *toLine, *ccLine;
    } cases[] = {
        {"", "", "\r\nTo: \r\n", nullptr},
        {"a, Jane <b>", "", "\r\nTo: a,Jane <b>\r\n", nullptr},
        {"a;;b", "c", "\r\nTo: a,b\r\n", "\r\nCc: c\r\n"},
        // A quoted name may hold the separators.
        {"\"Doe, Jane; Dr\" <j@x>, b", "", "\r\nTo: \"Doe, Jane; Dr\" <j@x>,b\r\n", nullptr},
    };
    for (const auto& c : cases) {
        CSMTPMessage message;
        message.AddRecipients(c.to);
        message.AddRecipients(c.cc, RecipientKind::Cc);
        message.AddRecipients("hidden@x", RecipientKind::Bcc);
        const std::string header = message.BuildHeader();
        EXPECT_NE(header.find(c.toLine), std::string::npos) << header;
        EXPECT_EQ(header.find("Cc: ") != std::string::npos, c.ccLine != nullptr) << header;
        if (c.ccLine != nullptr) {
            EXPECT_NE(header.find(c.ccLine), std::string::npos) << header;
        }
        EXPECT_EQ(header.find("hidden@x"), std::string::npos);
        EXPECT_EQ(message.RecipientCount(RecipientKind::Bcc), 1);
    }
}

TEST(SMTPMessage, AddRecipientsKeepsOnlyUsableAddresses) {
    CSMTPMessage message;
    EXPECT_FALSE(message.AddRecipients(" , ;"));
    EXPECT_FALSE(message.AddRecipients("evil@x\r\nRCPT TO:<y>"));
    EXPECT_TRUE(message.AddRecipients("a@x; Bob <b@x>,"));
    ASSERT_EQ(message.RecipientCount(), 2);
    EXPECT_EQ(message.RecipientAt(1)->name, "Bob");
    EXPECT_EQ(message.RecipientAt(1)->address, "b@x");
    EXPECT_EQ(message.RecipientAt(2), nullptr);
}

TEST(SMTPMessage, OptionalHeaderLinesInOrder) {
    CSMTPMessage message;
    message.from = CSMTPAddress("f@x", "Fred");
    message.xMailer.clear();
    message.replyTo = CSMTPAddress("r@x");
    message.priority = MessagePriority::HighPriority;
    message.extraHeaders = {"X-One: 1", "X-Two: 2"};
    EXPECT_EQ(MaskDate(message.BuildHeader()),
              "From: Fred <f@x>\r\nTo: \r\nSubject: \r\n"
              "MIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=iso-8859-1\r\n"
              "Reply-To: r@x\r\nDate: <date>\r\nMessage-ID: " +
                  message.MessageId() + "\r\nX-Priority: 1\r\nX-One: 1\r\nX-Two: 2\r\n");
}

TEST(SMTPMessage, MimeModeTransitions) {
    CSMTPMessage message;
    message.AddTextBody("first");
    message.SetMime(true);
    message.SetMime(true);  // no change the second time
    ASSERT_EQ(message.Root().ChildCount(), 1);
    EXPECT_EQ(message.GetText(), "This is a multi-part message in MIME format");
    EXPECT_EQ(message.Root().GetContentType(), "multipart/mixed");
    message.AddTextBody("second");  // replaces the text part's text
    ASSERT_EQ(message.Root().ChildCount(), 1);
    EXPECT_EQ(message.Root().ChildAt(0)->GetText(), "second");
    EXPECT_EQ(message.AddAttachments(" a.xml,,b.xml; "), 2);
    ASSERT_EQ(message.Root().ChildCount(), 3);
    EXPECT_EQ(message.Root().ChildAt(2)->GetFilename(), "b.xml");
    EXPECT_EQ(message.Root().ChildAt(1)->GetParent(), &message.Root());

    CSMTPMessage empty;
    empty.SetMime(true);  // no text: no text part
    EXPECT_EQ(empty.Root().ChildCount(), 0);
    EXPECT_NE(empty.BuildHeader().find("MIME-Version: 1.0\r\nContent-Type: multipart/mixed\r\n"),
              std::string::npos);
}

TEST(SMTPBodyPart, AttachmentLinesOf76) {
    ScratchDir dir;
    const struct {
        std::size_t size;
        std::size_t lines;
        std::size_t lastLine;
    } cases[] = {{57, 1, 76}, {58, 2, 4}, {1, 1, 4}, {114, 2, 76}};
    for (const auto& c : cases) {
        const std::string path = dir / ("f" + std::to_string(c.size));
        WriteAll(path, std::string(c.size, '\x5a'));
        CSMTPBodyPart part;
        part.SetFilename(path);
        std::string body;
        ASSERT_TRUE(part.RenderBody(&body));
        const std::regex line("[A-Za-z0-9+/=]*\r\n");
        std::size_t count = 0;
        std::size_t last = 0;
        for (std::sregex_iterator it(body.begin(), body.end(), line), end; it != end; ++it) {
            ++count;
            last = it->length() - 2;
            EXPECT_LE(last, 76u);
        }
        EXPECT_EQ(count, c.lines) << c.size;
        EXPECT_EQ(last, c.lastLine) << c.size;
        EXPECT_EQ(body.size(), ((c.size + 2) / 3 * 4) + 2 * c.lines);
    }
}

TEST(SMTPBodyPart, AttachmentFailures) {
    ScratchDir dir;
    CSMTPBodyPart missing;
    missing.SetFilename(dir / "gone.xml");  // accepted now, fails when rendered
    std::string body = "stale";
    EXPECT_FALSE(missing.RenderBody(&body));
    EXPECT_TRUE(body.empty());

    WriteAll(dir / "empty.xml", "");
    CSMTPBodyPart empty;
    empty.SetFilename(dir / "empty.xml");
    EXPECT_TRUE(empty.RenderBody(&body));
    EXPECT_TRUE(body.empty());
}

// An attachment goes out piece by piece; one that another program shortens or extends
// meanwhile must not come out as if complete. Where the system keeps writers out while it is
// open (Windows) the change fails instead, and the original goes out whole.
TEST(SMTPBodyPart, AttachmentChangedWhileSentIsNeverPassedOffAsComplete) {
    ScratchDir dir;
    std::string original;
    for (int i = 0; i < 150000; ++i) {  // three pieces
        original += static_cast<char>('a' + i % 26);
    }
    const struct {
        const char* what;
        bool (*change)(const std::string& path);
        bool completes;  // when the change could be made
    } cases[] = {
        {"shortened",
         [](const std::string& path) {
             return static_cast<bool>(std::ofstream(path, std::ios::trunc) << "short");
         },
         false},
        {"extended",
         [](const std::string& path) {
             return static_cast<bool>(std::ofstream(path, std::ios::app) << "more");
         },
         false},
        {"removed",  // the open file keeps what it had
         [](const std::string& path) {
             std::error_code ec;
             return std::filesystem::remove(path, ec);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / "report.xml";
        WriteAll(path, original);
        CSMTPBodyPart part;
        part.SetFilename(path);
        std::string body;
        bool changed = false;
        int pieces = 0;
        const bool completed = part.WriteBody([&](std::string_view piece) {
            if (pieces++ == 0) {
                changed = c.change(path);
            }
            body += piece;
        });
        if (changed) {
            EXPECT_EQ(completed, c.completes);
        }
        if (completed) {
            EXPECT_EQ(pieces, 3);
            std::string decoded;
            Base64Decode(body, Base64Decoding::Lenient, &decoded);
            EXPECT_EQ(decoded, original);
        }
    }
}

TEST(SMTPBodyPart, SizeLimitAt52428800) {
    ScratchDir dir;
    const std::string path = dir / "big.bin";
    WriteAll(path, "");
    for (const std::uintmax_t size : {52428800ull, 52428801ull}) {
        std::filesystem::resize_file(path, size);  // sparse: no disk blocks needed
        CSMTPBodyPart part;
        part.SetFilename(path);
        std::string body;
        const bool rendered = part.RenderBody(&body);
        EXPECT_EQ(rendered, size <= CSMTPBodyPart::kDefaultMaxAttachmentSize) << size;
        if (rendered) {
            // 52428800 zero bytes (3n + 2): full lines of "A", the last group with one pad.
            const std::size_t chars = (size + 2) / 3 * 4;
            EXPECT_EQ(body.size(), chars + 2 * ((chars + 75) / 76));
            EXPECT_EQ(body.compare(0, 78, std::string(76, 'A') + "\r\n"), 0);
            EXPECT_EQ(body.substr(body.size() - 6), "AAA=\r\n");
        }
    }
}

TEST(SMTPBodyPart, TextBodiesByEncoding) {
    CSMTPBodyPart part;
    part.SetCharset("UTF-8");
    part.SetText("\xE9.\n.x");
    std::string body;
    ASSERT_TRUE(part.RenderBody(&body));
    EXPECT_EQ(body, "=C3=A9.\r\n.x");  // converted, quoted-printable (the sender stuffs it)
    part.SetBase64(true);
    ASSERT_TRUE(part.RenderBody(&body));
    EXPECT_EQ(body, "w6kuDQoueA==\r\n");
    part.SetBase64(false);
    part.SetQuotedPrintable(false);
    part.SetCharset("iso-8859-1");
    ASSERT_TRUE(part.RenderBody(&body));
    EXPECT_EQ(body, "\xE9.\r\n.x");
}

}  // namespace
