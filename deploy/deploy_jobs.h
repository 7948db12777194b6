#pragma once

#include "common/strings.h"
#include "deploy/log.h"
#include "deploy/outcome.h"

// The fleet deploy jobs around Typeloader.exe, each a short sequencer: read
// the machine, plan, refuse or carry the plan out, read again, judge. Each
// logs every check and its verdict and returns how the run ended.

Outcome deploy_install(DeployLog& log, const String& title);
Outcome deploy_uninstall(DeployLog& log, const String& title);
