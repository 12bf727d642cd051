// What a mail client reads of an attachment before its bytes: the media type its name stands
// for, the charset its first bytes declare, and part-header lines that stay within 78
// characters however long the name, and unfold to the same parameters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mailer/mime/content_type.h"
#include "mailer/mime/encoders.h"
#include "mailer/mime/smtp_message.h"
#include "tests/support/test_env.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteAll;

TEST(AttachmentType, ByExtension) {
    const struct {
        const char *name, *type;
    } cases[] = {
        {"week.xml", "application/xml"},     {"FILTERDAY_31_07_2026.XML", "application/xml"},
        {"week.html", "text/html"},          {"Week.Html", "text/html"},
        {"page.HTM", "text/html"},           {"week.xml.bak", "application/octet-stream"},
        {"xml", "application/octet-stream"}, {"57.bin", "application/octet-stream"},
        {"", "application/octet-stream"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(MediaTypeForName(c.name), c.type) << c.name;
    }
}

TEST(AttachmentType, Utf8OnlyWhereTheFileSaysSo) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string farMeta = "<html><head>" + std::string(1100, ' ') + "<meta charset=utf-8>";
    const struct {
        const char* type;
        std::string start;
        bool utf8;
    } cases[] = {
        // The reports' own first line, and other spellings of it.
        {"application/xml", "<?xml version=\"1.0\" encoding=\"utf-8\" ?><?xml-stylesheet", true},
        {"application/xml", "<?xml version='1.0' encoding = 'UTF-8'?>\r\n<log>", true},
        {"application/xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<r>w\xE9</r>",
         false},
        {"application/xml", "<?xml version=\"1.0\"?><log>encoding=\"utf-8\"</log>", false},
        {"application/xml", "<?xml version=\"1.0\" encoding=\"utf-8\"", false},  // not closed
        {"application/xml", "<?xml-stylesheet encoding=\"utf-8\"?>", false},
        {"application/xml", "<log>no declaration</log>", false},
        {"application/xml", bom + "<log/>", true},
        {"application/xml", "", false},
        // The HTML twins' meta element, and the older form.
        {"text/html", "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\" />",
         true},
        {"text/html",
         "<html><head><meta name=\"viewport\" content=\"x\"><META HTTP-EQUIV=\"Content-Type\" "
         "CONTENT=\"text/html; charset=UTF-8\">",
         true},
        {"text/html", "<html><head><meta charset=windows-1252><meta charset=utf-8>", false},
        {"text/html", "<html><head><meta charset=\"utf-8", false},
        {"text/html", farMeta, false},  // past what HTML itself looks at
        {"text/html", bom + "<p>", true},
        // Other types carry no charset whatever they hold.
        {"application/octet-stream", "<?xml version=\"1.0\" encoding=\"utf-8\" ?>", false},
        {"application/octet-stream", bom, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeclaresUtf8(c.type, c.start), c.utf8) << c.type << ": " << c.start;
    }
}

// The Content-Type of each kind of file as it goes out.
TEST(AttachmentType, InThePartHeader) {
    ScratchDir dir;
    WriteAll(dir / "week.xml", "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<log/>");
    WriteAll(dir / "week.html", "<!DOCTYPE html>\n<html><head>\n<meta charset=\"utf-8\" />");
    WriteAll(dir / "legacy.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r/>");
    WriteAll(dir / "57.bin", std::string(57, '\x01'));
    const struct {
        const char *file, *line;
    } cases[] = {
        {"week.xml", "Content-Type: application/xml; charset=utf-8; name=\"week.xml\""},
        {"week.html", "Content-Type: text/html; charset=utf-8; name=\"week.html\""},
        {"legacy.xml", "Content-Type: application/xml; name=\"legacy.xml\""},
        {"57.bin", "Content-Type: application/octet-stream; name=\"57.bin\""},
        {"gone.xml", "Content-Type: application/xml; name=\"gone.xml\""},  // fails when sent
    };
    for (const auto& c : cases) {
        CSMTPBodyPart part;
        part.SetFilename(dir / c.file);
        std::string header;
        ASSERT_TRUE(part.RenderHeader(&header));
        EXPECT_NE(header.find("\r\n" + std::string(c.line) + "\r\n"), std::string::npos) << header;
    }
}

// The lines of a header, CR LF removed.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

std::string Unfolded(std::string text) {
    for (std::size_t at; (at = text.find("\r\n ")) != std::string::npos;) {
        text.erase(at, 2);
    }
    return text;
}

TEST(HeaderFold, AtTheLastBlankThatKeeps78) {
    const std::string words78 = "Subject: " + std::string(69, 'a');  // exactly 78
    const struct {
        std::string in;
        std::vector<std::string> lines;
    } cases[] = {
        {"Subject: short", {"Subject: short"}},
        {words78, {words78}},
        {words78 + " b", {words78, " b"}},
        {"Subject: " + std::string(60, 'a') + " " + std::string(20, 'b') + " c",
         {"Subject: " + std::string(60, 'a'), " " + std::string(20, 'b') + " c"}},
        // A run without blanks stays whole, and folding resumes after it.
        {"X: " + std::string(100, 'a') + " b " + std::string(77, 'c'),
         {"X: " + std::string(100, 'a'), " b", " " + std::string(77, 'c')}},
        {"X: " + std::string(100, 'a'), {"X: " + std::string(100, 'a')}},
    };
    for (const auto& c : cases) {
        const std::string folded = FoldHeaderField(c.in);
        EXPECT_EQ(Lines(folded), c.lines) << c.in;
        EXPECT_EQ(Unfolded(folded), c.in);
    }
}

// Names as long as a path may hold: every line of the part header within 78 characters, and
// the sections put together again (RFC 2231 3) give the name as it would stand whole.
TEST(HeaderFold, LongAttachmentNames) {
    const struct {
        const char* what;
        std::string title;
    } cases[] = {
        {"plain", std::string(150, 'r') + ".xml"},
        {"plain with blanks", "monthly report of the branch office in " + std::string(80, 'x')},
        {"8-bit", std::string(90, '\xE9') + ".xml"},
        {"escapes at every cut", std::string(200, '"')},
        {"line breaks", std::string(70, 'a') + "\r\n.\r\nQUIT\r\n" + std::string(70, 'b')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CSMTPBodyPart part;
        part.SetFilename("/r/x");
        part.SetTitle(c.title);
        std::string header;
        ASSERT_TRUE(part.RenderHeader(&header));
        for (const std::string& line : Lines(header)) {
            EXPECT_LE(line.size(), 78u) << line;
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
        }
        const std::string unfolded = Unfolded(header);
        const std::size_t disposition = unfolded.find("Content-Disposition: attachment; ");
        ASSERT_NE(disposition, std::string::npos) << header;
        const std::string line =
            unfolded.substr(disposition, unfolded.find("\r\n", disposition) - disposition);
        const bool plain = IsPlainParameter(c.title);
        std::string joined;
        for (int section = 0;; ++section) {
            const std::string head = "filename*" + std::to_string(section) + (plain ? "=\"" : "*=");
            const std::size_t at = line.find(head);
            if (at == std::string::npos) {
                break;
            }
            const std::size_t from = at + head.size();
            const std::size_t end = line.find(plain ? "\"" : ";", from);
            joined += line.substr(from, end == std::string::npos ? end : end - from);
        }
        EXPECT_EQ(joined, plain ? c.title : EncodeExtendedValue(c.title, "iso-8859-1")) << line;
    }
}

TEST(HeaderFold, TheSubjectOfEveryReportKind) {
    CSMTPMessage message;
    message.subject = "Email Reports from Brisko Web Proxy - 31/07/2026 daily, weekly, monthly";
    const std::string header = message.BuildHeader();
    EXPECT_NE(header.find("\r\nSubject: Email Reports from Brisko Web Proxy - 31/07/2026 daily, "
                          "weekly,\r\n monthly\r\n"),
              std::string::npos)
        << header;
}

}  // namespace
