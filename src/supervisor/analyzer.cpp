// Recognises registration, authentication failures and refused local services in connector output.
#include "supervisor/analyzer.h"

#include "base/text.h"

namespace mw {

namespace {

const wchar_t* const kTokenInvalidTexts[] = {L"Provided Tunnel token is not valid", L"Unauthorized",
                                             L"invalid tunnel secret", L"Unable to authenticate"};
const wchar_t* const kTokenMissingTexts[] = {L"requires the ID or name of the tunnel to run"};
const wchar_t* const kEdgeDnsTexts[] = {L"error looking up Cloudflare edge IPs", L"Could not lookup srv records",
                                        L"_v2-origintunneld._tcp"};
const wchar_t* const kEdgeQuicTexts[] = {L"failed to dial to edge with quic", L"Failed to create new quic connection"};
const wchar_t* const kFailedDialTexts[] = {L"connection refused", L"actively refused", L"No connection could be made",
                                           L"i/o timeout", L"timed out", L"timeout"};
const wchar_t* const kRefusedTexts[] = {L"connection refused", L"connect: connection refused", L"actively refused",
                                        L"No connection could be made"};

template <size_t N>
bool ContainsAny(const std::wstring& line, const wchar_t* const (&texts)[N]) {
    for (const wchar_t* text : texts) {
        if (ContainsNoCase(line, text)) return true;
    }
    return false;
}

// The edge listens on port 7844; a dial to it is the edge path, any other refused dial the origin.
bool NamesEdgePort(const std::wstring& line) { return line.find(L":7844") != std::wstring::npos; }

}  // namespace

uint32_t HintFamiliesOf(const std::wstring& line) {
    uint32_t families = 0;
    auto add = [&families](HintFamily family) { families |= static_cast<uint32_t>(family); };
    if (ContainsAny(line, kTokenInvalidTexts)) add(HintFamily::TokenInvalid);
    if (ContainsAny(line, kTokenMissingTexts)) add(HintFamily::TokenMissing);
    if (ContainsAny(line, kEdgeDnsTexts)) add(HintFamily::EdgeDns);
    if (ContainsAny(line, kEdgeQuicTexts)) {
        add(HintFamily::EdgeQuic);
    } else if (NamesEdgePort(line)) {
        if (ContainsAny(line, kFailedDialTexts)) add(HintFamily::EdgePort);
    } else if (ContainsAny(line, kRefusedTexts)) {
        add(HintFamily::OriginRefused);
    }
    return families;
}

const wchar_t* HintText(HintFamily family) {
    switch (family) {
        case HintFamily::TokenInvalid:
            return L"看起来是认证/注册失败：token 复制不全、隧道已删除，或该 token 属于别的隧道";
        case HintFamily::TokenMissing:
            return L"cloudflared 没拿到 token：把 Zero Trust 控制台给的整条 token 填进 [tunnel] token= 后保存";
        case HintFamily::EdgeDns:
            return L"查不到 Cloudflare 边缘地址（DNS 查询 _v2-origintunneld._tcp.argotunnel.com 的 SRV 记录失败）："
                   L"检查本机 DNS 设置，或换一个能解析 SRV 记录的 DNS";
        case HintFamily::EdgeQuic:
            return L"QUIC 连不上 Cloudflare 边缘（出站 UDP 7844 可能被拦）：可在 ini 里设 extra_args=--protocol http2";
        case HintFamily::EdgePort:
            return L"连不上 Cloudflare 边缘的 7844 端口：检查防火墙/代理是否放行出站 TCP/UDP 7844";
        case HintFamily::OriginRefused:
            return L"本机目标端口没监听：确认被代理的服务真的起来了（RDP 用 netstat -ano | findstr 3389）";
    }
    return L"";
}

void AnalyzeLine(ConnectorRunState& state, const std::wstring& line, uint64_t nowTick, const LogSink& log) {
    log(L"CFD", line);
    if (!state.registered.load(std::memory_order_relaxed) && ContainsNoCase(line, L"Registered tunnel connection")) {
        state.registered.store(true, std::memory_order_relaxed);
        log(L"INFO", FormatText(L"隧道已注册，连接器就绪（耗时 %u 秒）",
                                static_cast<unsigned>((nowTick - state.startTick) / 1000)));
    }
    const uint32_t fresh = HintFamiliesOf(line) & ~state.hintsShown;
    state.hintsShown |= fresh;
    for (uint32_t bit = 1; bit != 0 && bit <= fresh; bit <<= 1) {
        if ((fresh & bit) != 0) log(L"WARN", HintText(static_cast<HintFamily>(bit)));
    }
}

}  // namespace mw
