// Makes sure a verified cloudflared.exe of the right machine type is in place, and the commands for it.
#pragma once

#include <string>

namespace mw {

// Uses CurrentConfig() and logs every decision. connectorPathOut gets the connector path before any file
// is examined, so it is set on failure too. The old executable is replaced only after every check passed.
// A signalled cancel event (a HANDLE, not owned; may be null) ends a running download early: false,
// with a WARN line in place of the troubleshooting advice.
bool EnsureConnector(bool forceDownload, std::wstring* connectorPathOut = nullptr, void* cancel = nullptr);

// "download" (forceDownload) and "ensure": 0; 2 when the settings cannot be prepared; 3 when
// provisioning fails.
int RunProvisionCommand(const std::wstring& iniPath, bool forceDownload);

}  // namespace mw
