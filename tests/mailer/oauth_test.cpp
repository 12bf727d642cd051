// OAuth for the report mail: the SASL messages of both mechanisms, what an error challenge
// says, the cache decision, the token endpoint's answers judged (with no token or secret in
// any message), the grant chosen and a rotated refresh token stored, and the device login's
// polling.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/layout.h"
#include "mailer/oauth/device_login.h"
#include "mailer/oauth/oauth_tokens.h"
#include "mailer/smtp/oauth_sasl.h"
#include "mailer/smtp/smtp_exception.h"
#include "platform/clock.h"
#include "platform/secrets.h"
#include "tests/support/test_env.h"

namespace {

constexpr char kSecret[] = "client-SECRET-1";
constexpr char kAccess[] = "ACCESS-token-9";
constexpr char kRefresh[] = "REFRESH-token-7";

TEST(OAuthSasl, MessagesOfBothMechanisms) {
    EXPECT_EQ(XOAuth2Response("a@b.test", "tok"), std::string("user=a@b.test\x01"
                                                              "auth=Bearer tok\x01\x01"));
    EXPECT_EQ(OAuthBearerResponse("a@b.test", "mx.test", 587, "tok"),
              std::string("n,a=a@b.test,\x01"
                          "host=mx.test\x01"
                          "port=587\x01"
                          "auth=Bearer tok\x01\x01"));
    // The GS2 header's user name: "," and "=" would end or escape it.
    EXPECT_EQ(OAuthBearerResponse("x,y=z", "h", 1, "t").substr(0, 14), "n,a=x=2Cy=3Dz,");
}

TEST(OAuthSasl, ErrorChallengeStatus) {
    const struct {
        const char* decoded;
        const char* status;
    } cases[] = {
        {R"({"status":"invalid_token","scope":"smtp"})", "invalid_token"},
        {R"({"status":"401","schemes":"bearer"})", "401"},
        {R"({"status":401})", ""},
        {"not json", ""},
        {R"(["status"])", ""},
        // It goes into a log line: no control bytes, bounded.
        {"{\"status\":\"a\\r\\nb\"}", "a??b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorChallengeStatus(c.decoded), c.status) << c.decoded;
    }
    EXPECT_EQ(ErrorChallengeStatus("{\"status\":\"" + std::string(500, 'x') + "\"}").size(), 64u);
}

TEST(OAuthCache, ReusedOnlyWithMoreThanFiveMinutesLeft) {
    const std::time_t now = 1'800'000'000;
    EXPECT_TRUE(CachedTokenUsable(now + 301, now));
    EXPECT_FALSE(CachedTokenUsable(now + 300, now));
    EXPECT_FALSE(CachedTokenUsable(now - 10, now));
}

platform::HttpAnswer Json(long status, const std::string& body) {
    platform::HttpAnswer answer;
    answer.status = status;
    answer.body = body;
    return answer;
}

platform::HttpAnswer Failure(platform::HttpFailure failure, platform::TlsFailure tls = {}) {
    platform::HttpAnswer answer;
    answer.failure = failure;
    answer.tls = tls;
    answer.detail = "library words";
    return answer;
}

// A token endpoint that answers from a list and keeps every request.
struct FakeEndpoint {
    std::vector<platform::HttpAnswer> answers;
    std::vector<platform::HttpRequest> requests;
    HttpPost Post() {
        return [this](const platform::HttpRequest& request) {
            requests.push_back(request);
            if (requests.size() > answers.size()) {
                ADD_FAILURE() << "an unexpected request: " << request.form;
                return Failure(platform::HttpFailure::Unreachable);
            }
            return answers[requests.size() - 1];
        };
    }
};

OAuthSettings Settings() {
    OAuthSettings settings;
    settings.tokenUrl = "https://login.test/t/token?x=1";
    settings.deviceUrl = "https://login.test/t/device";
    settings.clientId = "client-1";
    settings.scope = "smtp.send";
    settings.clientSecret = kSecret;
    return settings;
}

TEST(OAuthEndpoint, EachAnswerHasItsFailureAndNoSecretInIt) {
    const std::string granted =
        std::string(R"({"access_token":")") + kAccess + R"(","expires_in":3599})";
    const struct {
        const char* what;
        platform::HttpAnswer answer;
        std::uint32_t code;  // 0: granted
        const char* text;
    } cases[] = {
        {"granted", Json(200, granted), 0, ""},
        {"unreachable", Failure(platform::HttpFailure::Unreachable), kOAuthUnreachable,
         "https://login.test/t/token: library words"},
        {"not https", Failure(platform::HttpFailure::Url), kOAuthSettings, "not an https URL"},
        {"too large", Failure(platform::HttpFailure::TooLarge), kOAuthNoToken, "library words"},
        {"wrong name", Failure(platform::HttpFailure::Tls, platform::TlsFailure::NameMismatch),
         kSmtpTlsNameMismatch, "token endpoint https://login.test/t/token: library words"},
        {"not json", Json(200, "<html>"), kOAuthNoToken, "the answer is not JSON"},
        {"no token", Json(200, R"({"token_type":"Bearer"})"), kOAuthNoToken,
         "no usable access_token"},
        {"token with a line break", Json(200, R"({"access_token":"a\r\nQUIT"})"), kOAuthNoToken,
         "no usable access_token"},
        {"server error page", Json(503, "busy"), kOAuthNoToken,
         "HTTP 503 from https://login.test/t/token: the answer is not JSON"},
        {"invalid_grant",
         Json(400, std::string(R"({"error":"invalid_grant","error_description":"AADSTS70008 )") +
                       kSecret + R"( expired\n"})"),
         kOAuthInvalidGrant,
         "HTTP 400 from https://login.test/t/token: invalid_grant: AADSTS70008"},
        {"invalid_scope", Json(400, R"({"error":"invalid_scope"})"), kOAuthGrantRefused,
         "HTTP 400 from https://login.test/t/token: invalid_scope"},
        {"unknown error", Json(400, R"({"error":"temporarily_unavailable"})"), kOAuthNoToken,
         "temporarily_unavailable"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeEndpoint fake;
        fake.answers = {c.answer};
        TokenEndpoint endpoint(Settings(), fake.Post());
        try {
            const TokenGrant grant = endpoint.ClientCredentials(1000);
            EXPECT_EQ(c.code, 0u);
            EXPECT_EQ(grant.accessToken, kAccess);
            EXPECT_EQ(grant.expiresAt, 1000 + 3599);
        } catch (const CSMTPException& failure) {
            EXPECT_EQ(failure.Code(), SmtpInterfaceError(c.code));
            EXPECT_NE(failure.Response().find(c.text), std::string::npos) << failure.Response();
            const std::string line = JudgeFailure(failure, SenderPhase::Connect).line;
            for (const char* secret : {kSecret, kAccess, kRefresh, "x=1"}) {
                EXPECT_EQ(line.find(secret), std::string::npos) << line;
            }
        }
        ASSERT_EQ(fake.requests.size(), 1u);
        EXPECT_EQ(fake.requests[0].form,
                  "grant_type=client_credentials&client_id=client-1&client_secret=client-SECRET-1"
                  "&scope=smtp.send");
    }
}

TEST(OAuthEndpoint, ClientRefusedInTheBodyTriesHttpBasic) {
    FakeEndpoint fake;
    fake.answers = {Json(401, R"({"error":"invalid_client"})"),
                    Json(200, R"({"access_token":"t2"})")};
    TokenEndpoint endpoint(Settings(), fake.Post());
    EXPECT_EQ(endpoint.ClientCredentials(0).accessToken, "t2");
    ASSERT_EQ(fake.requests.size(), 2u);
    EXPECT_EQ(fake.requests[1].form, "grant_type=client_credentials&scope=smtp.send");
    EXPECT_EQ(fake.requests[1].basicUser, "client-1");
    EXPECT_EQ(fake.requests[1].basicPassword, "client-SECRET-1");
}

class OAuthTokensTest : public testing_support::RegistryTest {};

TEST_F(OAuthTokensTest, GrantChoiceCacheAndRotation) {
    platform::FixedClock clock(1'800'000'000);
    FakeEndpoint fake;
    fake.answers = {Json(200, R"({"access_token":"cc-1","expires_in":3600})"),
                    Json(200, R"({"access_token":"rt-access","expires_in":600,)"
                              R"("refresh_token":"rotated-2"})"),
                    Json(200, R"({"access_token":"rt-access-2","expires_in":600})")};
    OAuthTokens tokens(Settings(), clock, fake.Post());
    // Without a refresh token: client credentials; then the cache while it has time left.
    EXPECT_EQ(tokens.Current(), "cc-1");
    clock.Set(clock.Now() + 3600 - 301);
    EXPECT_EQ(tokens.Current(), "cc-1");
    EXPECT_EQ(fake.requests.size(), 1u);

    // With a refresh token: the refresh grant, and the rotated one replaces it.
    StoreRefreshToken("first-1");
    EXPECT_EQ(tokens.Fresh(), "rt-access");
    EXPECT_NE(fake.requests[1].form.find("grant_type=refresh_token&refresh_token=first-1"),
              std::string::npos);
    EXPECT_EQ(StoredRefreshToken(), "rotated-2");
    std::time_t expiresAt = 0;
    EXPECT_EQ(CachedToken(&expiresAt), "rt-access");
    EXPECT_EQ(expiresAt, clock.Now() + 600);

    // Ten minutes is more than the margin, four are not.
    clock.Set(clock.Now() + 360);
    EXPECT_EQ(tokens.Current(), "rt-access-2");
    EXPECT_NE(fake.requests[2].form.find("refresh_token=rotated-2"), std::string::npos);
    EXPECT_EQ(StoredRefreshToken(), "rotated-2");  // none came back: the stored one stays
}

TEST_F(OAuthTokensTest, UnusableSettingsAreRefusedBeforeAnyRequest) {
    platform::FixedClock clock(0);
    const struct {
        const char* what;
        void (*change)(OAuthSettings&);
        const char* text;
    } cases[] = {
        {"no URL", [](OAuthSettings& s) { s.tokenUrl.clear(); }, "SMTPOAuthTokenURL is not set"},
        {"http", [](OAuthSettings& s) { s.tokenUrl = "http://x/token"; }, "not an https URL"},
        {"no client", [](OAuthSettings& s) { s.clientId.clear(); }, "SMTPOAuthClientID"},
        {"nothing to grant with", [](OAuthSettings& s) { s.clientSecret.clear(); },
         "tallyctl smtp oauth login"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OAuthSettings settings = Settings();
        c.change(settings);
        FakeEndpoint fake;
        OAuthTokens tokens(settings, clock, fake.Post());
        try {
            tokens.Current();
            ADD_FAILURE() << "no failure";
        } catch (const CSMTPException& failure) {
            EXPECT_EQ(failure.Code(), SmtpInterfaceError(kOAuthSettings));
            EXPECT_NE(failure.Response().find(c.text), std::string::npos) << failure.Response();
        }
        EXPECT_TRUE(fake.requests.empty());
    }
}

TEST(OAuthDeviceLogin, PollsAtTheAskedIntervalUntilAnAnswer) {
    const std::string code =
        R"({"device_code":"dc","user_code":"AB-CD","verification_uri":"https://x.test/d",)"
        R"("expires_in":30,"interval":2})";
    const std::string pending = R"({"error":"authorization_pending"})";
    const std::string slow = R"({"error":"slow_down"})";
    const struct {
        const char* what;
        std::vector<platform::HttpAnswer> answers;
        std::vector<std::uint32_t> pauses;
        std::uint32_t code;  // 0: granted
    } cases[] = {
        {"approved after a slow_down",
         {Json(200, code), Json(400, pending), Json(400, slow),
          Json(200, R"({"access_token":"a","refresh_token":"r"})")},
         {2000, 2000, 7000},
         0},
        {"refused",
         {Json(200, code), Json(400, R"({"error":"access_denied"})")},
         {2000},
         kOAuthGrantRefused},
        {"expired",
         {Json(200, code), Json(400, R"({"error":"expired_token"})")},
         {2000},
         kOAuthGrantRefused},
        // 30 seconds at 2 each: fifteen polls, then the code is given up.
        {"never approved",
         {Json(200, code), Json(400, pending), Json(400, pending), Json(400, pending),
          Json(400, pending), Json(400, pending), Json(400, pending), Json(400, pending),
          Json(400, pending), Json(400, pending), Json(400, pending), Json(400, pending),
          Json(400, pending), Json(400, pending), Json(400, pending), Json(400, pending)},
         std::vector<std::uint32_t>(15, 2000),
         kOAuthGrantRefused},
        {"no code", {Json(200, R"({"user_code":"x"})")}, {}, kOAuthNoToken},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeEndpoint fake;
        fake.answers = c.answers;
        testing_support::RecordingPacer pacer;
        TokenEndpoint endpoint(Settings(), fake.Post());
        DevicePrompt shown;
        try {
            const TokenGrant grant =
                RunDeviceLogin(endpoint, pacer, 100, [&](const DevicePrompt& p) { shown = p; });
            EXPECT_EQ(c.code, 0u);
            EXPECT_EQ(grant.refreshToken, "r");
            EXPECT_EQ(shown.userCode, "AB-CD");
            EXPECT_EQ(shown.verificationUrl, "https://x.test/d");
        } catch (const CSMTPException& failure) {
            EXPECT_EQ(failure.Code(), SmtpInterfaceError(c.code)) << failure.Response();
        }
        EXPECT_EQ(pacer.pauses, c.pauses);
        if (fake.requests.size() > 1) {
            EXPECT_NE(fake.requests[1].form.find(
                          "grant_type=urn%3Aietf%3Aparams%3Aoauth%3Agrant-type%3Adevice_code"),
                      std::string::npos);
        }
    }
}

}  // namespace
