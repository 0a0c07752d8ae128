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

// The ETag the tree gives a file of these bytes: its quoted MD5.
std::string FileTag(const std::string& bytes);

// The answer to request: the file below tree that its path (without the query) names, with
// its FileTag and, asked for, a range of it (ScriptedResponse::ForFile); 404 for any other.
ScriptedResponse TreeAnswer(const std::wstring& tree, const ReceivedRequest& request);

// Every request gets its TreeAnswer, passed through change when given.
void ServeTree(LoopbackHttpServer& server, const std::wstring& tree, AnswerChange change = nullptr);

// The paths, without their queries, of the requests since the first `from` ones.
std::vector<std::string> RequestPathsSince(const LoopbackHttpServer& server, size_t from);
