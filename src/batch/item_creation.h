#pragma once
// Making a batch item of a file: the creators of a BatchQueueCreators list are walked in order
// and the first that declares the file's type (compared ignoring case) makes the item, which a
// new BatchQueueRunner wraps. The built-in creators are made here, with the queue's context;
// plug-in creators come from the list's plug-in host.

#include <memory>
#include <string>

#include "testers/batch_queue_creators.h"

namespace ordalis {

class BatchQueueRunner;
struct BatchItemContext;

// A runner for [file_name] whose item the first creator of [creators] declaring the file's type
// made, with the file name set (a script item loads the script here); null when no creator makes
// one. Built-in items get [context].
std::shared_ptr<BatchQueueRunner> CreateRunner(const BatchQueueCreators& creators, const std::string& file_name,
                                               const BatchItemContext& context);
// True when some creator of [creators] declares the type of [file_name].
bool Accepts(const BatchQueueCreators& creators, const std::string& file_name);

}  // namespace ordalis
