#include "bridge/BridgeApp.h"

#include <cwchar>
#include <utility>

OwnedText::OwnedText(const wchar_t* source) {
    if (source == nullptr) source = L"";
    size_t length = std::wcslen(source);
    text_.reset(new wchar_t[length + 1]);
    std::wmemcpy(text_.get(), source, length + 1);
}

OrvexBridgeApp::OrvexBridgeApp() = default;
OrvexBridgeApp::~OrvexBridgeApp() = default;

HRESULT STDMETHODCALLTYPE OrvexBridgeApp::QueryInterface(REFIID iid, void** out) {
    if (core_ == nullptr) return 1;
    return core_->QueryInterface(iid, out);
}

ULONG STDMETHODCALLTYPE OrvexBridgeApp::AddRef() { return core_ ? core_->AddRef() : 1; }

ULONG STDMETHODCALLTYPE OrvexBridgeApp::Release() { return core_ ? core_->Release() : 1; }

void STDMETHODCALLTYPE OrvexBridgeApp::ModifyAppInfo(AppInfo* info) {
    if (info == nullptr) return;
    // Copy both texts before touching the stored record, so a failed allocation leaves
    // the previous record whole.
    OwnedText text1(info->pwszText1);
    OwnedText text2(info->pwszText2);
    appPending_ = true;
    appText1_ = std::move(text1);
    appText2_ = std::move(text2);
    appInfo_.pwszText1 = appText1_.Get();
    appInfo_.pwszText2 = appText2_.Get();
    appInfo_.cbSize = info->cbSize;
    appInfo_.nGameId = info->nGameId;
    appInfo_.nDxVersion = info->nDxVersion;
    appInfo_.nReserved = 0;
    appInfo_.nAreaId = info->nAreaId;
    appInfo_.nGroupId = info->nGroupId;
    if (core_ != nullptr) {
        appPending_ = false;
        core_->ModifyAppInfo(&appInfo_);
    }
}

void OrvexBridgeApp::StoreLogin(UINT32 cbSize, const wchar_t* first, const wchar_t* second) {
    OwnedText firstCopy(first);
    OwnedText secondCopy(second);
    loginPending_ = true;
    loginInfo_.cbSize = cbSize;
    loginFirst_ = std::move(firstCopy);
    loginSecond_ = std::move(secondCopy);
    loginInfo_.pwszFirst = loginFirst_.Get();
    loginInfo_.pwszSecond = loginSecond_.Get();
}

void STDMETHODCALLTYPE OrvexBridgeApp::Login(LoginInfo* info) {
    if (info == nullptr || info->cbSize == 0 || info->pwszFirst == nullptr ||
        info->pwszSecond == nullptr || info->pwszFirst[0] == L'\0' ||
        info->pwszSecond[0] == L'\0') {
        return;
    }
    StoreLogin(info->cbSize, info->pwszFirst, info->pwszSecond);
    if (core_ != nullptr) {
        loginPending_ = false;
        core_->Login(info);
    }
}

void STDMETHODCALLTYPE OrvexBridgeApp::Logout() {
    StoreLogin(12, L"", L"");  // the record {12, "", ""}
    if (core_ != nullptr) core_->Logout();
}

UINT32 STDMETHODCALLTYPE OrvexBridgeApp::GetLoginState() {
    return core_ ? core_->GetLoginState() : 0;
}

UINT32 STDMETHODCALLTYPE OrvexBridgeApp::OnWindowProc(UINT32 a, UINT32 b, UINT32 c, UINT32 d,
                                                      UINT32 e) {
    return core_ ? core_->OnWindowProc(a, b, c, d, e) : 1;
}

UINT32 STDMETHODCALLTYPE OrvexBridgeApp::HasUI(UINT32 value) {
    return core_ ? core_->HasUI(value) : 0;
}

void STDMETHODCALLTYPE OrvexBridgeApp::Show(UINT32) {}

void STDMETHODCALLTYPE OrvexBridgeApp::MoveTo(UINT32) {}

void OrvexBridgeApp::Attach(IORVEXApp* core) {
    core_ = core;
    if (appPending_) {
        appPending_ = false;
        core_->ModifyAppInfo(&appInfo_);
    }
    if (loginPending_) {
        loginPending_ = false;
        core_->Login(&loginInfo_);
    }
}
