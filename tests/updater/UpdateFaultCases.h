// The cases of UpdateFaultTest.cpp: one table of faults a server or the network can inflict
// on a download, and one of the downloads of an update run, each with what the run logs.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "support/LoopbackHttpServer.h"

// Every time-out and body limit of the run: a stalled or dripping answer costs this much
// per attempt.
constexpr DWORD kLimitMs = 2000;

// What a fault does to the run: the download fails; it completes but its body is not what
// was asked for; either of these, per attempt; or the run works anyway.
enum class Outcome { DownloadFails, BodyRejected, RejectedOrFails, Works };

struct Fault {
    const char* id;
    Outcome outcome;
    // Null: nothing listens for the URL. Otherwise turns the good answer into the faulty one.
    ScriptedResponse (*apply)(ScriptedResponse good, const std::string& target);
};

inline ScriptedResponse Declaring(ScriptedResponse response, std::size_t length) {
    response.headers.push_back({"Content-Length", std::to_string(length)});
    return response;
}

inline const Fault kFaults[] = {
    {"ConnectionRefused", Outcome::DownloadFails, nullptr},
    {"ResetAfterHeaders", Outcome::DownloadFails,
     [](ScriptedResponse r, const std::string&) {
         r.resetAfterBytes = 0;
         return r;
     }},
    {"ResetMidBody", Outcome::DownloadFails,
     [](ScriptedResponse r, const std::string&) {
         r.resetAfterBytes = r.body.size() / 2;
         return r;
     }},
    {"ShortBody", Outcome::DownloadFails,
     [](ScriptedResponse r, const std::string&) {
         r = Declaring(r, r.body.size());
         r.body.resize(r.body.size() / 2);
         return r;
     }},
    {"LengthAboveBody", Outcome::DownloadFails,
     [](ScriptedResponse r, const std::string&) { return Declaring(r, r.body.size() + 100); }},
    // Cut at the announced length and rejected; but wine's WinHTTP also hands over the bytes
    // past it when they came in with the headers, and the download then fails (12030).
    {"LengthBelowBody", Outcome::RejectedOrFails,
     [](ScriptedResponse r, const std::string&) { return Declaring(r, r.body.size() / 2); }},
    // Without a Content-Length a whole body cannot be told from a cut one: refused (12150).
    {"Chunked", Outcome::DownloadFails,
     [](ScriptedResponse r, const std::string&) {
         r.chunked = true;
         return r;
     }},
    {"StalledBeforeHeaders", Outcome::DownloadFails,
     [](ScriptedResponse r, const std::string&) {
         r.answerDelayMs = 60000;  // ended by the server's stop
         return r;
     }},
    {"StalledMidBody", Outcome::DownloadFails,
     [](ScriptedResponse r, const std::string&) {
         r.pieceSize = (r.body.size() + 1) / 2;
         r.pieceDelayMs = 60000;  // ended by the server's stop
         return r;
     }},
    {"DripFed", Outcome::DownloadFails,
     [](ScriptedResponse r, const std::string&) {
         r.pieceSize = r.body.size() / 12 + 1;
         r.pieceDelayMs = kLimitMs / 5;
         return r;
     }},
    // A body of its announced length arrives whole; only its content can reject it.
    {"ServerError", Outcome::BodyRejected,
     [](ScriptedResponse, const std::string&) {
         return ScriptedResponse::WithStatus(500, "Internal Server Error",
                                             "<html><body>internal error</body></html>");
     }},
    // WinHTTP follows it to the other path, which answers well.
    {"Redirect", Outcome::Works,
     [](ScriptedResponse, const std::string& target) {
         ScriptedResponse moved = ScriptedResponse::WithStatus(302, "Found", "");
         moved.headers.push_back({"Location", "/moved" + target});
         return moved;
     }},
};

enum class Step { Manifest, CheckList, RepairFile, Package, Patch };

struct Kind {
    const char* id;
    Step step;
    const char* target;        // how its request starts
    const char* before;        // the download before it, whose answer stops the listening; or null
    const wchar_t* installed;  // the installed version that makes the run reach it
    int attempts;
    const char* failure;  // its download failure line, up to the code
    // Its line for a complete but unusable body; null where the run logs none (a document
    // that does not parse, a patch that does not unpack).
    const char* rejected;
    // How often a run logs that line: a package that does not unpack is not fetched again.
    int rejections;
};

inline const Kind kKinds[] = {
    {"Manifest", Step::Manifest, "/version.xml?tick=", nullptr, L"1.0", 3,
     "update version DownloadFile failed(", nullptr, 0},
    {"CheckList", Step::CheckList, "/g_file_check_list.xml?tick=", "/version.xml?", L"2.0", 3,
     "get file check list failed(", nullptr, 0},
    {"RepairFile", Step::RepairFile, "/files/level.dat", "/g_file_check_list.xml?", L"2.0", 3,
     "get file check list failed(", "get file check list failed(23)", 3},
    {"Package", Step::Package, "/pkg/archive.7z?rand=", "/version.xml?", L"", 3,
     "Install DownloadFile (http://127.0.0.1:8008/pkg/archive.7z?rand=", "Unzip failed", 1},
    {"Patch", Step::Patch, "/pkg/archive.7z?tick=", "/version.xml?", L"1.0", 3,
     "update patch DownloadFile failed(", nullptr, 0},
};
