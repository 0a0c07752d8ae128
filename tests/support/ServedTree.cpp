#include "support/ServedTree.h"

#include "support/PathUtils.h"
#include "support/TestDigest.h"
#include "support/TestPaths.h"

std::string FileTag(const std::string& bytes) { return "\"" + Md5Text(bytes) + "\""; }

ScriptedResponse TreeAnswer(const std::wstring& tree, const ReceivedRequest& request) {
    std::string path = request.target.substr(0, request.target.find('?'));
    std::wstring file = tree;
    for (char c : path) file += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    if (path.find("..") != std::string::npos || !FileExists(file.c_str()))
        return ScriptedResponse::WithStatus(404, "Not Found", "");
    std::string bytes = ReadFileBytes(file);
    return ScriptedResponse::ForFile(request, bytes, FileTag(bytes));
}

void ServeTree(LoopbackHttpServer& server, const std::wstring& tree, AnswerChange change) {
    server.SetHandler([tree, change](const ReceivedRequest& request) {
        ScriptedResponse answer = TreeAnswer(tree, request);
        return change ? change(request.target.substr(0, request.target.find('?')), answer) : answer;
    });
}

std::vector<std::string> RequestPathsSince(const LoopbackHttpServer& server, size_t from) {
    std::vector<std::string> paths;
    std::vector<ReceivedRequest> requests = server.Requests();
    for (size_t i = from; i < requests.size(); ++i)
        paths.push_back(requests[i].target.substr(0, requests[i].target.find('?')));
    return paths;
}
