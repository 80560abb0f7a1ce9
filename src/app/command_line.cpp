// Parsing the command line and the usage text.
#include "app/command_line.h"

#include "base/text.h"

namespace mw {

CommandLine ParseCommandLine(const std::vector<std::wstring>& args, const std::wstring& defaultIniPath) {
    CommandLine line;
    line.args = args;
    line.iniPath = defaultIniPath;
    // "--ini" in the last position has no value and is ignored; the first occurrence wins.
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (ToLowerAscii(args[i]) == L"--ini") {
            line.iniPath = args[i + 1];
            break;
        }
    }
    line.word = args.empty() ? std::wstring(L"install") : ToLowerAscii(args[0]);
    return line;
}

bool ParseInstallOptions(const std::vector<std::wstring>& args, InstallOptions* options, std::wstring* errorText) {
    for (size_t i = 1; i < args.size(); ++i) {
        std::wstring word = ToLowerAscii(args[i]);
        if (word == L"--quiet") {
            options->quiet = true;
        } else if (word == L"--token-file") {
            if (i + 1 >= args.size()) {
                if (errorText != nullptr) *errorText = L"--token-file 后面要跟 token 文件的路径";
                return false;
            }
            options->tokenFile = args[++i];
        } else if (word == L"--ini" && i + 1 < args.size()) {
            ++i;  // its value is the INI path, not an option
        }
    }
    return true;
}

std::vector<std::wstring> UsageLines(const std::wstring& defaultIniPath) {
    return {
        L"mosswarden —— Win7 可用的 cloudflared 引导 + 守护程序",
        L"",
        L"用法: mosswarden.exe [命令] [--ini 路径]",
        L"",
        L"  (无参数)      建 ini、装依赖、注册服务并启动（需要管理员）",
        L"  --install     同上",
        L"  --uninstall   停止并删除服务，同时清掉登录自启项",
        L"  --start       启动服务",
        L"  --stop        停止服务",
        L"  --restart     重启服务",
        L"  --status      查看服务/二进制/日志尾部",
        L"  --health      隧道健康一行：就绪退出码 0，未就绪 1，未运行 2（给脚本/监控用）",
        L"  --run         前台运行守护循环（Ctrl+C 退出，排障用）",
        L"  --daemon      后台运行守护循环（隐藏窗口，非管理员场景由 Run 键拉起）",
        L"  --ensure      只下载 cloudflared + 生成 config.yml，不装服务",
        L"  --download    强制重新下载 cloudflared",
        L"  --tlsfix      写入 Win7 的 TLS1.2 注册表项（下载 https 报错时用）",
        L"  --checknet [url]  用 WinHTTP 拉一次小文件，验证出网/TLS",
        L"  --selftest    本机自检：SHA256 向量、PE 识别、ini/YAML 往返",
        L"  --clientcmd <hostname> [--port 13389]  打印另一台电脑要执行的连接命令",
        L"  --yaml        重新生成 config.yml",
        L"  --ini         生成默认 mosswarden.ini（已存在则不覆盖）",
        L"  --service     服务内部入口，不要手动调用",
        L"  --version     版本信息",
        L"",
        L"无人值守安装: --install --token-file <文件> [--quiet]",
        L"  --token-file  从文件读 token 写进 ini（不打印 token）",
        L"  --quiet       不打印进度和提示，只在出错时写标准错误",
        L"  --ini 路径    用别处的 ini；--install 注册的服务/自启项也带上它",
        L"",
        L"退出码: 0 成功；1 未知命令、参数不对、网络检查或自检失败；2 ini 读写失败；",
        L"        3 cloudflared 落地或 config.yml 失败；4 写登录自启失败；",
        L"        5 服务操作失败或未达到预期状态；6 已有 mosswarden 在守护同一个 ini",
        L"",
        L"默认配置文件: " + defaultIniPath,
    };
}

}  // namespace mw
