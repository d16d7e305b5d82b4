#pragma once
// The four modes of ostrelsim; each returns the process's exit status
// (0 done, 1 failed while running, 2 an argument that cannot work).
#include <string>

#include "tools/ostrelsim/options.h"

namespace ostrelsim {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int runSend(const Options& options);
int runRecord(const Options& options);
int runReplay(const Options& options);
int runInfo(const Options& options);

// Numbers for messages, the same in every locale.
std::string numberText(double value, int decimals);
std::string numberText(double value);  // shortest form that reads back exactly

}  // namespace ostrelsim
