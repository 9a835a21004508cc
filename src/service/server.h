// Process entry and transport: start-up, one-shot mode and server mode.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands/context.h"

namespace kelp {

// Builds the globals in order, scrubs the environment, stores the arguments.
Globals startUp(platform::Platform& os, std::vector<std::string> args);

// Runs the one command the arguments name, with "id" 0. Returns the exit status.
int runOneShot(Context& context);

// Next input line without its terminator ("\n" or "\r\n"); none at end of input.
using LineReader = std::function<std::optional<std::string>()>;

// Reads requests on a thread of its own and runs each on the main run loop,
// one at a time, until end of input. Returns the exit status.
int serve(Context& context, LineReader readLine);

// Reads lines on a thread of its own and runs `onLine` for each on the main
// run loop, one at a time, until end of input. Returns the exit status.
int serveLines(Context& context, LineReader readLine, const std::function<void(const std::string&)>& onLine);

// A line parsed as JSON; discarded when it is not JSON or nests deeper than
// any real request does.
Json parseLine(const std::string& line);

// Handles one input line as the read loop does, on the calling thread:
// nothing for an empty line, the unreadable-request reply for a line that is
// not a JSON object, otherwise `run` with the request.
void dispatchLine(Context& context, const std::string& line, const std::function<void(const Json&)>& run);

// Reads standard input line by line.
LineReader standardInputReader();

// Writes each reply line and a "\n" to standard output and flushes: the
// only place that writes there.
ReplyWriter::LineSink standardOutputSink();

}  // namespace kelp
