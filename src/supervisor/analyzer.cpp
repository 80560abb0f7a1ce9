// Recognises registration, authentication failures and refused local services in connector output.
#include "supervisor/analyzer.h"

#include "base/text.h"

namespace mw {

namespace {

const wchar_t* const kAuthTexts[] = {L"Unauthorized", L"failed to serve tunnel connection", L"invalid tunnel secret",
                                     L"Unable to authenticate"};
const wchar_t* const kRefusedTexts[] = {L"connection refused", L"connect: connection refused", L"actively refused",
                                        L"No connection could be made"};

template <size_t N>
bool ContainsAny(const std::wstring& line, const wchar_t* const (&texts)[N]) {
    for (const wchar_t* text : texts) {
        if (ContainsNoCase(line, text)) return true;
    }
    return false;
}

}  // namespace

void AnalyzeLine(ConnectorRunState& state, const std::wstring& line, uint64_t nowTick, const LogSink& log) {
    log(L"CFD", line);
    if (!state.registered.load(std::memory_order_relaxed) && ContainsNoCase(line, L"Registered tunnel connection")) {
        state.registered.store(true, std::memory_order_relaxed);
        log(L"INFO", FormatText(L"隧道已注册，连接器就绪（耗时 %u 秒）",
                                static_cast<unsigned>((nowTick - state.startTick) / 1000)));
    }
    if (!state.authHintShown && ContainsAny(line, kAuthTexts)) {
        state.authHintShown = true;
        log(L"WARN", L"看起来是认证/注册失败：token 复制不全、隧道已删除，或该 token 属于别的隧道");
    }
    if (!state.refusedHintShown && ContainsAny(line, kRefusedTexts)) {
        state.refusedHintShown = true;
        log(L"WARN", L"本机目标端口没监听：确认被代理的服务真的起来了（RDP 用 netstat -ano | findstr 3389）");
    }
}

}  // namespace mw
