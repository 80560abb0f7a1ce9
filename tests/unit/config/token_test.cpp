// Tunnel token inspection: complete, truncated and mistyped tokens.
#include "config/token.h"

#include <gtest/gtest.h>

#include <vector>

namespace mw {
namespace {

// base64 of {"a":"0123456789abcdef0123456789abcdef","t":"0c8f3e4a-1111-2222-3333-444455556666","s":"c2VjcmV0LXNlY3JldA=="}
const std::wstring kToken =
    L"eyJhIjoiMDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWYiLCJ0IjoiMGM4ZjNlNGEtMTExMS0yMjIyLTMzMzMtNDQ0NDU1NTU2"
    L"NjY2IiwicyI6ImMyVmpjbVYwTFhObFkzSmxkQT09In0=";

TEST(InspectToken, Table) {
    struct Case {
        const char* name;
        std::wstring token;
        bool wellFormed;
        const wchar_t* problem;
    };
    const std::vector<Case> cases = {
        {"complete", kToken, true, L""},
        {"without padding", kToken.substr(0, kToken.size() - 1), true, L""},
        {"truncated", kToken.substr(0, 60), false, L"解码后不是完整的 JSON 对象"},
        {"one character short", kToken.substr(0, kToken.size() - 2), false, L"解码后不是完整的 JSON 对象"},
        {"a space inside", kToken.substr(0, 10) + L" " + kToken.substr(10), false, L"不是 base64 文本"},
        {"quotes around it", L"\"" + kToken + L"\"", false, L"不是 base64 文本"},
        {"base64 of other JSON", L"eyJ4IjoiMSJ9", false, L"缺少 a/t/s 字段"},  // {"x":"1"}
        {"empty", L"", false, L""},
    };
    for (const Case& c : cases) {
        TokenFacts facts = InspectToken(c.token);
        EXPECT_EQ(facts.wellFormed, c.wellFormed) << c.name;
        EXPECT_EQ(facts.problem, c.problem) << c.name;
    }
    EXPECT_EQ(InspectToken(kToken).tunnelId, L"0c8f3e4a-1111-2222-3333-444455556666");
    EXPECT_EQ(TokenFormatWarning(InspectToken(L"abc$")), L"token 格式不对：不是 base64 文本（复制不全？）");
}

}  // namespace
}  // namespace mw
