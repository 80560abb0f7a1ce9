// The process-wide settings record, constructed with the defaults before wmain runs.
#include "config/settings.h"

namespace mw {

namespace {
Config g_config;
}  // namespace

Config& CurrentConfig() { return g_config; }

LogTarget ServiceLog(const Config& config) {
    LogTarget target;
    target.directory = config.supervisor.log_dir;
    target.fixedFileName = kServiceLogName;
    target.rotateMb = config.supervisor.log_rotate_mb;
    return target;
}

LogTarget DailyLog(const Config& config, bool echo) {
    LogTarget target;
    target.directory = config.supervisor.log_dir;
    target.rotateMb = config.supervisor.log_rotate_mb;
    target.echo = echo;
    return target;
}

}  // namespace mw
