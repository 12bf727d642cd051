// Page text as a type: only escaping and the program's own markup make it, and neither plain
// text nor page text passes for the other, so a missed or a doubled escape does not compile.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <type_traits>

#include "reports/html_page.h"

namespace {

using reports::html::Html;
using reports::html::Markup;

template <typename A, typename B>
concept Joinable = requires(A a, B b) {
    a + b;
};
template <typename A, typename B>
concept Appendable = requires(A a, B b) {
    a += b;
};
template <typename A, typename B>
concept Assignable = requires(A a, B b) {
    a = b;
};

// What pages are built with (so the checks below fail for the right reason).
static_assert(Joinable<Html, Html> && Joinable<Html, Markup> && Joinable<Markup, Html>);
static_assert(Appendable<Html, Html> && Appendable<Html, Markup>);
static_assert(Assignable<std::string, std::string>);

// Plain text never becomes page text but through escaping.
static_assert(!std::is_constructible_v<Html, std::string>);
static_assert(!std::is_constructible_v<Html, std::string_view>);
static_assert(!std::is_constructible_v<Html, const char*>);
static_assert(!std::is_constructible_v<Markup, std::string>);
static_assert(!std::is_constructible_v<Markup, const char*>);
static_assert(!Joinable<Html, std::string> && !Joinable<std::string, Html>);
static_assert(!Appendable<Html, std::string> && !Appendable<Html, const char*>);
// Page text is not handed where plain text is escaped again.
static_assert(!std::is_convertible_v<Html, std::string_view>);
static_assert(!std::is_convertible_v<Html, std::string>);
static_assert(!Assignable<std::string, Html>);  // a chart's label, say
// A figure's caption is the program's own words.
static_assert(!std::is_constructible_v<reports::html::Figure, std::string, Html>);

TEST(HtmlType, MarkupAndEscapedTextJoinInOrder) {
    Html page = Markup("<p>");
    page += reports::html::Text("a<b");
    page = "<div>" + page + "</p>";
    reports::html::AppendText(page, "&");
    EXPECT_EQ(page.Str(), "<div><p>a&lt;b</p>&amp;");
    EXPECT_EQ(std::move(page).Take(), "<div><p>a&lt;b</p>&amp;");
}

}  // namespace
