// Times the check-list pass on installations of growing size: for each count, the list is
// served on the update port, GetCheckFileList fetches, parses and hashes every file, and
// RepairFiles mends the one damaged file. Prints one line per count for bench/run.sh:
//   check_list files=<n> seconds=<best> per_file_us=<best / n>
// The clock runs around the two calls only, so making the files is not in the figure.
#include <windows.h>

#include "BenchClock.h"

#include <cstdio>
#include <string>
#include <vector>

#include "support/FileDigest.h"
#include "support/TestDigest.h"
#include "support/LoopbackHttpServer.h"
#include "updater/FileCheckList.h"
#include "updater/FileRepair.h"
#include "updater/UpdaterState.h"

namespace {

constexpr int kRepeats = 3;

// A small file of its own content per index, so every digest differs.
std::string Content(int index) {
    std::string bytes(1024, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(index * 7 + i * 13);
    return bytes;
}

bool Write(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

// Best time of the pass over `count` files, or a negative value on failure.
double TimePass(const std::wstring& root, int count) {
    std::wstring dir = root + L"\\n" + std::to_wstring(count) + L"\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    std::string list = "<root version=\"1\">";
    for (int i = 0; i < count; ++i) {
        std::string name = "f" + std::to_string(i);
        if (!Write(dir + std::wstring(name.begin(), name.end()), Content(i))) return -1;
        list += "<file name=\"" + name + "\" md5=\"" + Md5Text(Content(i)) +
                "\" remote_file_url=\"http://127.0.0.1:8008/" + name + "\"/>";
    }
    list += "</root>";

    LoopbackHttpServer server;
    if (!server.Start(8008)) return -1;
    server.SetHandler([&list](const ReceivedRequest& request) {
        if (request.target.rfind("/g_file_check_list.xml?", 0) == 0)
            return ScriptedResponse::Ok(list);
        return ScriptedResponse::Ok(Content(0));  // the good copy of f0
    });
    double best = -1;
    for (int r = 0; r < kRepeats; ++r) {
        if (!Write(dir + L"f0", "damaged")) return -1;
        UpdaterState& state = TheUpdaterState();
        state.Clear();
        state.currentVersion = L"1";
        state.installDir = dir;
        double start = NowSeconds();
        GetCheckFileList();
        RepairFiles();
        double seconds = NowSeconds() - start;
        if (state.checkFiles.size() != static_cast<size_t>(count)) return -1;
        if (best < 0 || seconds < best) best = seconds;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: CheckListBench <scratch dir>\n");
        return 2;
    }
    std::wstring root(argv[1], argv[1] + std::string(argv[1]).size());
    SetCurrentDirectoryW(root.c_str());  // "bx.log" lands here
    for (int count : {100, 1000, 10000}) {
        double seconds = TimePass(root, count);
        if (seconds < 0) {
            std::fprintf(stderr, "CheckListBench: the pass over %d files failed\n", count);
            return 1;
        }
        std::printf("check_list files=%d seconds=%.6f per_file_us=%.2f\n", count, seconds,
                    seconds * 1e6 / count);
    }
    return 0;
}
