// Where the update server is. The host is fixed when the library is built (CMake cache
// variable ORVEX_UPDATE_HOST); the port is always 8008.
#pragma once

#ifndef ORVEX_UPDATE_HOST
#define ORVEX_UPDATE_HOST L"127.0.0.1"
#endif

#define ORVEX_UPDATE_SERVER L"http://" ORVEX_UPDATE_HOST L":8008"

constexpr const wchar_t* kManifestUrl = ORVEX_UPDATE_SERVER L"/version.xml";
constexpr const wchar_t* kCheckListUrl = ORVEX_UPDATE_SERVER L"/g_file_check_list.xml";
