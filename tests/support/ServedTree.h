// A published server tree served as a static file server serves it, for the tests that run
// the real DLL against what the publisher wrote.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "support/LoopbackHttpServer.h"

// Given the request path (without its query) and the answer the tree gives, the answer to
// send instead; the tree's own answer when it returns it unchanged.
using AnswerChange = std::function<ScriptedResponse(const std::string& path, ScriptedResponse)>;

// The request path, without its query, names a file below tree; 404 for any other.
void ServeTree(LoopbackHttpServer& server, const std::wstring& tree, AnswerChange change = nullptr);

// The paths, without their queries, of the requests since the first `from` ones.
std::vector<std::string> RequestPathsSince(const LoopbackHttpServer& server, size_t from);
