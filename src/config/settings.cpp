// The process-wide settings record, constructed with the defaults before wmain runs.
#include "config/settings.h"

namespace mw {

namespace {
Config g_config;
}  // namespace

Config& CurrentConfig() { return g_config; }

}  // namespace mw
