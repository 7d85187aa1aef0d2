#pragma once
#include <string>

// Appends one line (CR LF ended) to the session log, optionally prefixed with
// "[hh:mm:ss] ". The file is opened and closed for every line so that it can
// be read, moved or deleted while a session runs; any failure is ignored.
void AppendSessionLog(const std::string& path, const std::string& line, bool timestamp);
