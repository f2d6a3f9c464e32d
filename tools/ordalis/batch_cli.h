#pragma once
// The subcommands of `ordalis batch`, one function each, and the small parsers they share.
// Each returns the process exit status: 0 success, 1 a failed entry, 2 a usage error or a file
// that cannot be read.

#include <cstdint>
#include <string>
#include <vector>

#include "batch/queue_file.h"
#include "option_table.h"

namespace ordalis::cli {

int BatchRun(const std::vector<std::string>& args);
int BatchNew(const std::vector<std::string>& args);
int BatchAdd(const std::vector<std::string>& args);
int BatchRemove(const std::vector<std::string>& args);
int BatchMove(const std::vector<std::string>& args);
int BatchList(const std::vector<std::string>& args);
int BatchSet(const std::vector<std::string>& args);
int BatchResults(const std::vector<std::string>& args);

// Resolves the files and folders of a command line into entry names: each file must be readable
// and of a type a batch item creator accepts (or a queue file); a folder gives its accepted files
// in name order. Names become absolute. Returns 0, or 2 after printing what is wrong.
int CollectEntries(const char* command, const std::vector<std::string>& paths, std::vector<std::string>* files);

// "on"/"off" (also yes/no, true/false, 1/0).
bool ParseOnOff(const std::string& text, bool* value);
// A decimal number that fits 32 bits.
bool ParseCount(const std::string& text, std::uint32_t* value);

// [options] followed by the options of the settings a queue file stores (--auto-remove,
// --email-enabled, --auto-reset, --retry, --auto-save, --stop-at-end, each with its value).
std::vector<Option> WithQueueSettings(std::vector<Option> options);
// Reads the queue setting options given into [settings]. Returns what is wrong; empty when sound.
std::string ReadQueueSettings(const ParsedArguments& arguments, batch::QueueSettings* settings);

// The settings as `list` shows them.
std::string DescribeSettings(const batch::QueueSettings& settings);

}  // namespace ordalis::cli
