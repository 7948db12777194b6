#pragma once

// Typeloader-Deploy.exe's start-up, parsing, log and dispatch; returns the
// process exit code.
int run_deploy();
