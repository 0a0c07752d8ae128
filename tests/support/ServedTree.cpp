#include "support/ServedTree.h"

#include "support/PathUtils.h"
#include "support/TestPaths.h"

void ServeTree(LoopbackHttpServer& server, const std::wstring& tree, AnswerChange change) {
    server.SetHandler([tree, change](const ReceivedRequest& request) {
        std::string path = request.target.substr(0, request.target.find('?'));
        std::wstring file = tree;
        for (char c : path) file += c == '/' ? L'\\' : static_cast<wchar_t>(c);
        ScriptedResponse answer = path.find("..") == std::string::npos && FileExists(file.c_str())
                                      ? ScriptedResponse::Ok(ReadFileBytes(file))
                                      : ScriptedResponse::WithStatus(404, "Not Found", "");
        return change ? change(path, answer) : answer;
    });
}

std::vector<std::string> RequestPathsSince(const LoopbackHttpServer& server, size_t from) {
    std::vector<std::string> paths;
    std::vector<ReceivedRequest> requests = server.Requests();
    for (size_t i = from; i < requests.size(); ++i)
        paths.push_back(requests[i].target.substr(0, requests[i].target.find('?')));
    return paths;
}
