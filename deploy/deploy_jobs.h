#pragma once

#include "common/strings.h"
#include <vector>

#include "deploy/actions.h"
#include "deploy/command_line.h"
#include "deploy/log.h"
#include "deploy/outcome.h"

// The fleet deploy jobs around Typeloader.exe, each a short sequencer: read
// the machine, plan, refuse or carry the plan out, read again, judge. Each
// logs every check and its verdict and returns how the run ended. With
// /whatif a job stops after the plan: it logs each action it would carry out
// and answers what the run would, changing nothing.

Outcome deploy_install(DeployLog& log, const DeployChoice& choice);
Outcome deploy_uninstall(DeployLog& log, const DeployChoice& choice);

// The /whatif answer: one line per planned action, in order, and the
// outcome the run would give.
Outcome tell_what_if(DeployLog& log, const std::vector<Action>& actions, Outcome outcome);
