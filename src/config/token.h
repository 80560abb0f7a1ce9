// What a tunnel token says about itself: the connector's format is base64 of {"a":…,"t":…,"s":…}.
#pragma once

#include <string>

namespace mw {

struct TokenFacts {
    bool wellFormed = false;
    std::wstring problem;   // why it is not, in a few Chinese words; empty when well formed
    std::wstring tunnelId;  // "t", the tunnel's UUID; not secret
};

// An empty token is reported as not well formed with an empty problem.
TokenFacts InspectToken(const std::wstring& token);

// "token 格式不对：<problem>（复制不全？）".
std::wstring TokenFormatWarning(const TokenFacts& facts);

}  // namespace mw
